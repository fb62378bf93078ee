#include "core/ModGeneral.h"

#include "core/ModDefine.h"
#include "platform/Clock.h"
#include "platform/Prompts.h"

#include <QApplication>
#include <QTime>

namespace ModGeneral {

namespace {
// Blanks only, as the station's own trimming: tabs and other white space stay.
QString trimBlanks(const QString& s) {
    int a = 0, b = s.size();
    while (a < b && s[a] == QLatin1Char(' ')) ++a;
    while (b > a && s[b - 1] == QLatin1Char(' ')) --b;
    return s.mid(a, b - a);
}

bool bitRangeValid(quint8 startBit, quint8 count) {
    return startBit >= 1 && startBit <= 8 && count >= 1 && startBit + count <= 9;
}
}  // namespace

void Delay(int ms) {
    const qint64 t0 = platform::TickMs();
    platform::YieldEvents();
    auto elapsed = [t0] { return static_cast<qint32>(platform::TickMs() - t0); };
    if (elapsed() < 0) return;
    for (;;) {
        if (elapsed() > ms) return;
        platform::YieldEvents();
        if (elapsed() < 0) return;
    }
}

quint8 GetBits(quint8 b, quint8 startBit, quint8 count) {
    if (!bitRangeValid(startBit, count)) return 0;
    const unsigned top = 1u << (startBit + count - 1);
    return static_cast<quint8>((b % top) / (1u << (startBit - 1)));
}

quint8 SetBits(quint8 b, quint8 startBit, quint8 count, quint8 bitValue) {
    if (!bitRangeValid(startBit, count)) return b;
    const unsigned mask = ((1u << count) - 1u) << (startBit - 1);
    return static_cast<quint8>(bitValue == 1 ? (b | mask) : (b & ~mask));
}

void SplitStr(const QString& text, QStringList& arr, const QString& delim) {
    arr.clear();
    if (text.isEmpty()) {
        arr << QString();
        return;
    }
    if (delim.isEmpty()) {
        arr << trimBlanks(text);
        return;
    }
    const QStringList parts = text.split(delim, Qt::KeepEmptyParts);
    arr.reserve(parts.size());
    for (const QString& p : parts) arr << trimBlanks(p);
}

QStringList SplitStr(const QString& text, const QString& delim) {
    QStringList arr;
    SplitStr(text, arr, delim);
    return arr;
}

QString JoinStr(const QStringList& arr, const QString& delim) { return arr.join(delim); }

QString CutToken(const QString& text, bool bRest, const QString& delim) {
    const int p = delim.isEmpty() ? -1 : text.indexOf(delim);
    if (p < 0) return bRest ? QString() : text;
    return bRest ? text.mid(p + delim.size()) : text.left(p);
}

int FindNthDelim(const QString& text, int n, const QString& delim) {
    if (n == 0) return 1;
    if (n < 0 || delim.isEmpty()) return -1;
    int found = 0;
    int from = 0;
    for (;;) {
        const int p = text.indexOf(delim, from);
        if (p < 0) break;
        ++found;
        if (found == n) return p + delim.size() + 1;  // positions count from 1
        from = p + delim.size();
    }
    if (found == n - 1) return text.size() + 2;
    return -1;
}

bool CheckEmpty(QWidget* ctl) {
    QString text;
    if (auto* e = qobject_cast<QLineEdit*>(ctl)) text = e->text();
    else if (auto* c = qobject_cast<QComboBox*>(ctl)) text = c->currentText();
    else return false;
    if (!text.isEmpty()) return false;
    platform::MsgBox(QStringLiteral("此项数据不能为空"), platform::mbOKOnly, AppName);
    ctl->setFocus();
    return true;
}

void FillComboFromSql(QComboBox* cbo, const QString& sql, const platform::Database& db, bool bPair) {
    cbo->clear();
    try {
        platform::Recordset rs = db.query(sql);
        for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
            QString item = rs.value(0).toString();
            if (bPair) item += QStringLiteral("-") + (rs.fieldCount() > 1 ? rs.value(1).toString() : QString());
            cbo->addItem(item);
        }
    } catch (const platform::DbError&) {
        // The list stays as far as it was filled.
    }
}

void FillComboFromArray(QComboBox* cbo, const QStringList& arr) {
    cbo->clear();
    cbo->addItems(arr);
}

void AddArrayToList(const QStringList& arr, QComboBox* cbo) { FillComboFromArray(cbo, arr); }

void ComboAutoComplete(QComboBox* cbo, bool bAllowFree, bool bSetIndex) {
    if (!cbo) return;
    const QString typed = cbo->currentText();
    const int n = typed.size();
    if (n == 0) return;
    const QString key = typed.toUpper();
    int found = -1;
    for (int i = 0; i < cbo->count(); ++i) {
        if (cbo->itemText(i).left(n).toUpper() == key) {
            found = i;
            break;
        }
    }
    if (found >= 0) {
        if (bSetIndex) cbo->setCurrentIndex(found);
        else cbo->setEditText(cbo->itemText(found));
        if (QLineEdit* le = cbo->lineEdit()) {
            const QString now = le->text();
            le->setSelection(n, now.size() - n);
        }
        return;
    }
    if (!bAllowFree) {
        if (cbo->isEditable()) cbo->setEditText(QString());
        else cbo->setCurrentIndex(-1);
        QApplication::beep();
        cbo->setFocus();
    }
}

void SelectAllText(QLineEdit* ctl) {
    if (ctl) ctl->selectAll();
}

void ClearControls(QWidget* frm) {
    if (!frm) return;
    for (QLineEdit* e : frm->findChildren<QLineEdit*>()) {
        // A combo box's own line edit is cleared through its combo box.
        if (qobject_cast<QComboBox*>(e->parentWidget())) continue;
        e->clear();
    }
    for (QComboBox* c : frm->findChildren<QComboBox*>()) {
        if (c->isEditable()) c->setEditText(QString());
        else c->setCurrentIndex(-1);
    }
}

qint32 CellIndex(qint32 row, int col, int cols) { return row * cols + col; }

bool GetGridSel(platform::FlexGrid& grid, bool bWholeIfSingle, int& colFirst, int& colLast) {
    GridSelFirst = qMin(grid.Row(), grid.RowSel());
    GridSelLast = qMax(grid.Row(), grid.RowSel());
    colFirst = qMin(grid.Col(), grid.ColSel());
    colLast = qMax(grid.Col(), grid.ColSel());
    if (bWholeIfSingle) {
        if (GridSelFirst == GridSelLast) {
            GridSelFirst = grid.FixedRows();
            GridSelLast = grid.Rows() - 1;
        }
        if (colFirst == colLast) {
            colFirst = 0;
            colLast = grid.Cols() - 1;
        }
        return true;
    }
    return !(GridSelFirst == GridSelLast && colFirst == colLast);
}

qint32 FindGridRow(platform::FlexGrid& grid, int col, const QString& text, qint32 startRow) {
    for (qint32 r = qMax<qint32>(startRow, 0); r < grid.Rows(); ++r) {
        if (grid.TextMatrix(r, col) == text) {
            grid.setRow(r);
            return r;
        }
    }
    return -1;
}

void ClearGridRow(platform::FlexGrid& grid) {
    if (grid.Rows() < 2) return;
    for (int c = 0; c < grid.Cols(); ++c) grid.setTextMatrix(1, c, QString());
}

QString PadF(const QString& s, int width) {
    const QString t = trimBlanks(s);
    if (width <= 0) return QString();
    if (t.size() >= width) return t.left(width);
    return t + QString(width - t.size(), QLatin1Char('F'));
}

QString ByteToDigits(quint8 b) {
    static const char* digits = "0123456789ABCDEF";
    QString out;
    const int hi = b >> 4, lo = b & 0x0F;
    if (hi != 15) out += QLatin1Char(digits[hi]);
    if (lo != 15) out += QLatin1Char(digits[lo]);
    return out;
}

QString NextNumStr(const QString& s) {
    // The numeric value of the text's leading digits, as the station reads numbers.
    const QString t = s.trimmed();
    int i = 0;
    while (i < t.size() && t[i].isDigit()) ++i;
    const qint64 value = t.left(i).toLongLong() + 1;
    return QStringLiteral("%1").arg(value, s.size(), 10, QLatin1Char('0'));
}

QString SecToHMS(qint64 seconds) {
    const qint64 h = seconds / 3600;
    const qint64 m = (seconds % 3600) / 60;
    const qint64 sec = seconds % 60;
    return QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, QLatin1Char('0')).arg(sec, 2, 10, QLatin1Char('0'));
}

qint32 TimeToSec(const QDateTime& t) { return TimeToSec(t.time()); }

qint32 TimeToSec(const QTime& t) { return t.hour() * 3600 + t.minute() * 60 + t.second(); }

QTime StrToTime(qint32 seconds) {
    qint32 r = seconds % 86400;
    if (r < 0) r += 86400;
    return QTime(r / 3600, (r % 3600) / 60, r % 60);
}

}  // namespace ModGeneral
