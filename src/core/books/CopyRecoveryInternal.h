#pragma once
// What the restore's steps (CopyRecovery.cpp) and the recovery of a station
// file put back (StationFileRecovery.cpp) share: the reading of a damaged
// file, and of the journal for a restore. Included by those two files only.
#include "core/books/ChargeLog.h"
#include "core/books/DbHeader.h"
#include "platform/Currency.h"
#include "platform/Db.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantList>

namespace ModSwitch {
namespace copyrecovery {

using platform::Database;
using platform::DbError;
using platform::quoteIdent;

// CopyRecovery.cpp.

// The rows of `table` the engine can still read, by rowid.
QMap<qint64, QVariantList> ReadableRows(const Database& db, const QString& table, const QStringList& cols,
                                        bool* complete = nullptr);

// Money a row of this station can hold: a balance or an amount past a hundred
// million yuan is no value the station wrote, but bytes of another page.
constexpr qint64 kMoneyReach = 100000000LL * 10000;

// An integer as a row read gives it.
bool IsInteger(const QVariant& v);
// Whether a row read from a damaged image has the shape of a row of its table.
bool HasShape(const QVariantList& row, const QList<platform::ColumnInfo>& fields, int keyCol);
// The header of a damaged file's image put right for the page size judged.
void PutHeaderRight(QByteArray& image, const QByteArray& refHead, int pageSize);

// A damaged database file read in memory, on a connection of its own, for
// what can still be read from it; the file itself is never written. Its page
// size is judged against its log, its size and the sound copy `reference` of
// the same file (JudgedPageSize); a header with a field the engine refuses is
// written anew in the image from that copy; a first page whose table list
// cannot be read is taken from the copy too (the tables keep the pages they
// were made on).
struct DamagedImage {
    Database db;
    explicit operator bool() const { return db.isOpen(); }

    DamagedImage(const QString& damaged, const QString& reference = QString()) {
        QByteArray image;
        {
            QFile f(damaged);
            if (!f.open(QIODevice::ReadOnly)) return;
            image = f.readAll();
        }
        const bool log = QFileInfo(damaged + QStringLiteral("-wal")).size() > 0;
        const bool hotJournal = QFileInfo(damaged + QStringLiteral("-journal")).size() > 0;
        const QByteArray refHead = reference.isEmpty() ? QByteArray() : HeadOf(reference, 65536);
        // The header is judged by what the file holds: a page size the log,
        // the file's size or the copy belies is not taken at its word.
        const int pageSize = JudgedPageSize(image, log ? PageSizeOfLog(damaged + QStringLiteral("-wal")) : 0, PageSizeOf(refHead));
        if (!pageSize || image.size() < pageSize) return;
        QByteArray firstPage;   // the copy's first page, should the image's not read
        PutHeaderRight(image, refHead, pageSize);
        if (PageSizeOf(refHead) == pageSize && refHead.size() >= pageSize) {
            firstPage = refHead.left(pageSize);
            firstPage.replace(0, 100, image.left(100));
        }
        // Cut to whole pages: a page the file holds only in part would give
        // rows of zeros and garbage.
        image.truncate(image.size() - image.size() % pageSize);
        if ((hotJournal || log) && !image.isEmpty()) {
            // Its hot journal is rolled back first, or its write-ahead log
            // brought into it, on copies: the file itself is never written.
            QTemporaryDir work;
            const QString source = work.filePath(QStringLiteral("r.mdb"));
            const QString side = hotJournal ? QStringLiteral("-journal") : QStringLiteral("-wal");
            QByteArray mode = image;
            if (!hotJournal) mode[18] = mode[19] = 2;
            QFile out(source);
            if (work.isValid() && out.open(QIODevice::WriteOnly) && out.write(mode) == mode.size() && (out.close(), true) &&
                QFile::copy(damaged + side, source + side)) {
                try {
                    Database r = Database::open(source);
                    if (log) r.tryExecute(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
                    r.close();
                    QFile in(source);
                    if (in.open(QIODevice::ReadOnly)) {
                        const QByteArray played = in.readAll();
                        if (PageSizeOf(played) == pageSize) image = played;
                    }
                } catch (const DbError&) {
                    // What could not be brought back, the pages read below still hold.
                }
            }
            image.truncate(image.size() - image.size() % pageSize);
        }
        if (image.isEmpty()) return;
        // Read in memory, a file that kept a write-ahead log reads as one that never did.
        if (quint8(image[18]) == 2) image[18] = 1;
        if (quint8(image[19]) == 2) image[19] = 1;
        try {
            db = Database::openImage(image);
            db.scalar(QStringLiteral("SELECT count(*) FROM sqlite_master"));
        } catch (const DbError&) {
            db = Database();
            if (firstPage.isEmpty()) return;
            image.replace(0, pageSize, firstPage);
            try {
                db = Database::openImage(image);
            } catch (const DbError&) {
                db = Database();
            }
        }
    }

    // The columns of `table`, lower case; none when it cannot be read.
    QStringList columns(const QString& table) const {
        QStringList cols;
        try {
            for (platform::RowReader r = db.rows(QStringLiteral("PRAGMA table_info(%1)").arg(quoteIdent(table))); r.next();)
                cols << r.text(1).toLower();
        } catch (const DbError&) {
        }
        return cols;
    }
};

// StationFileRecovery.cpp.

// The charge log of the call file `callFile`, as far as it can be read.
QList<LogEntry> ReadLog(const QString& callFile, bool* read, bool* complete = nullptr, int* rejected = nullptr,
                        QMap<qint64, QString>* userRows = nullptr);
// The call file's log and the entries moved from it to the journal file past `after`.
QList<LogEntry> ReadJournal(const QString& callFile, qint64 after, bool* read, bool* complete, bool* movedComplete);
// A call told by its extension and start.
QString callKey(const QVariant& addr, const QVariant& date);
// Calls by user, one line each with the user's name.
QStringList CallLines(const Database& sw, const QMap<qint64, QPair<int, platform::Currency>>& byUser);
// The fee of a call row; false when one is no amount.
bool FeeOf(const QVariantList& row, int from, qint64* fee);

}  // namespace copyrecovery
}  // namespace ModSwitch
