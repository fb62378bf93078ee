#include "admin/Sites.h"

#include "core/books/ChargeLog.h"
#include "core/ModDefine.h"
#include "core/Settings.h"
#include "platform/DbCopy.h"
#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>

namespace admin {

namespace {

const QString kDefaultSite = QStringLiteral("默认");
const QString kAskName = QStringLiteral("请输入站点名称(除<默认>外)");
// The endings of the files the station keeps in a data directory: databases,
// their copies and journals, spools and marks, work files and the lock.
const char* const kWorkFileEndings[] = {".mdb", ".bak", ".dat", ".lock", ".journal", ".tmp", ".notice", ".recovered",
                                        ".recovering", ".restoring", ".pending-restore", ".damaged", ".new"};

QString canonicalDir(const QString& path) {
    const QString c = QFileInfo(path).canonicalFilePath();
    return c.isEmpty() ? QString() : c;
}

bool isLink(const QFileInfo& fi) { return fi.isSymLink(); }

QString systemText() { return QString::fromLocal8Bit(std::strerror(errno)); }

// Everything below `path` and then `path`, links removed as links; stops at
// the first entry that cannot go.
bool removeTree(const QString& path, QString* error) {
    const QFileInfo self(path);
    if (isLink(self) || !self.isDir()) {
        if (QFile::remove(path)) return true;
        if (error) *error = QStringLiteral("无法删除文件 %1").arg(QDir::toNativeSeparators(path));
        return false;
    }
    const QDir d(path);
    const QFileInfoList entries =
        d.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::DirsLast);
    for (const QFileInfo& e : entries)
        if (!removeTree(e.filePath(), error)) return false;
    if (QDir().rmdir(path)) return true;
    if (error) *error = QStringLiteral("无法删除目录 %1").arg(QDir::toNativeSeparators(path));
    return false;
}

}  // namespace

QString RootDataDir() {
    QString dir = platform::resolveCI(AppPath, QStringLiteral("data"));
    if (!dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
    return dir;
}

QString RootStationFile() { return platform::resolveCI(RootDataDir(), QStringLiteral("switch.mdb")); }

platform::Database TerminalDatabase(bool* own) {
    if (dbSwitch.isOpen() && platform::sameFile(dbSwitch.path(), RootStationFile())) {
        *own = false;
        return dbSwitch;
    }
    *own = true;
    return platform::Database::open(RootStationFile());
}

bool IsSiteInUse(const QString& name) {
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) return false;
    if (name.compare(TerminalName, Qt::CaseInsensitive) == 0) return true;
    const QString site = canonicalDir(platform::resolveCI(RootDataDir(), name));
    return !site.isEmpty() && site == canonicalDir(DataPath);
}

bool SiteNameChar(QChar c) {
    if (c == QLatin1Char('.')) return true;
    if (c.unicode() < 0x80) return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                                   (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                                   (c >= QLatin1Char('a') && c <= QLatin1Char('z'));
    // Beyond ASCII: printable characters that are not blanks (Chinese and the like).
    return c.isPrint() && !c.isSpace() && c != QChar(0xFF0F) && c != QChar(0xFF3C);
}

QString SiteNameRefusal(const QString& name, const QString& ownDir) {
    // A site keeps the name it has, whatever the rule for new names says.
    if (!name.isEmpty() && name == ownDir) return {};
    if (name.isEmpty() || name.size() > 40 || name == kDefaultSite) return kAskName;
    bool onlyDots = true;
    for (const QChar c : name) {
        if (!SiteNameChar(c)) return kAskName;
        if (c != QLatin1Char('.')) onlyDots = false;
    }
    if (onlyDots) return kAskName;
    // The station's own files beside the sites ("Tmp.mdb", "CallSpool.dat",
    // "switch.mdb.bak", "tarvo.lock"...) are no site's name, even before they exist.
    for (const char* ext : kWorkFileEndings)
        if (name.endsWith(QLatin1String(ext), Qt::CaseInsensitive)) return kAskName;
    // A damaged file set aside carries the time after its ending ("switch.mdb.damaged-20260615-083005").
    if (name.contains(QStringLiteral(".damaged-"), Qt::CaseInsensitive)) return kAskName;
    const QString taken = name + QStringLiteral("站点已存在");
    if (name.compare(QStringLiteral("Backup"), Qt::CaseInsensitive) == 0) return taken;
    const QStringList entries =
        QDir(RootDataDir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& e : entries) {
        if (e.compare(name, Qt::CaseInsensitive) != 0) continue;
        if (!ownDir.isEmpty() && e.compare(ownDir, Qt::CaseInsensitive) == 0) continue;
        return taken;
    }
    return {};
}

bool IsSiteRow(const QString& name) {
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
        name.compare(QStringLiteral("Backup"), Qt::CaseInsensitive) == 0)
        return false;
    const QString dir = platform::resolveCI(RootDataDir(), name);
    if (!QFileInfo(dir).isDir()) return false;
    // Below the data directory, wherever the name's parts or links lead.
    const QString root = canonicalDir(RootDataDir());
    const QString site = canonicalDir(dir);
    return !root.isEmpty() && site.startsWith(root + QLatin1Char('/'));
}

QStringList SiteDirectoriesFound() {
    QStringList found;
    if (SwitchModel != 2) return found;
    const QDir root(RootDataDir());
    for (const QString& name : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        // A site's work or deleted directory carries a "-" no site's name has.
        if (!IsSiteRow(name) || !std::all_of(name.cbegin(), name.cend(), SiteNameChar)) continue;
        const QString dir = root.filePath(name);
        if (QFileInfo(platform::resolveCI(dir, QStringLiteral("Switch.mdb"))).isFile() &&
            QFileInfo(platform::resolveCI(dir, QStringLiteral("PhoneCur.mdb"))).isFile())
            found << name;
    }
    return found;
}

int ListSitesFound() {
    if (!dbSwitch.isOpen() || !platform::sameFile(dbSwitch.path(), RootStationFile())) return 0;
    const QString table = dbSwitch.actualTableName(QStringLiteral("Terminal"));
    if (table.isEmpty()) return 0;
    QStringList listed;
    for (platform::RowReader r = dbSwitch.rows(QStringLiteral("SELECT pointname FROM %1").arg(dbSwitch.qualified(table))); r.next();)
        listed << r.text(0).toLower();
    int added = 0;
    for (const QString& name : SiteDirectoriesFound()) {
        if (listed.contains(name.toLower())) continue;
        dbSwitch.execute(QStringLiteral("INSERT INTO %1 (pointid, pointname) VALUES ((SELECT coalesce(max(pointid), 0) + 1 FROM %1), ?)")
                             .arg(dbSwitch.qualified(table)),
                         {name});
        ++added;
    }
    return added;
}

bool CopyFileTo(const QString& folder, const QString& fileName, const platform::Database& station, QString* error) {
    return platform::CopyDatabaseStepwise(platform::resolveCI(RootDataDir(), fileName), folder + QLatin1Char('/') + fileName,
                                          station, error);
}

bool AddSiteDirectory(const QString& name, const platform::Database& terminalDb, QString* error) {
    QString err;
    auto fail = [&](const QString& text) {
        if (error) *error = err.isEmpty() ? text : err;
        return false;
    };
    const QString refusal = SiteNameRefusal(name);
    if (!refusal.isEmpty()) return fail(refusal);
    const QString root = RootDataDir();
    const QString target = root + name;
    // Made under a name no site can take ("-" is not a site name's character),
    // and given the site's name only when complete.
    const QString work = root + QStringLiteral(".site-") + name + QStringLiteral(".tmp");
    if (QFileInfo::exists(work) && !removeTree(work, &err)) return fail(err);
    if (!QDir().mkdir(work)) return fail(QStringLiteral("无法创建目录 %1").arg(QDir::toNativeSeparators(target)));
    auto abandon = [&](const QString& text) {
        QString ignored;
        removeTree(work, &ignored);
        return fail(text);
    };
    const QString cur = work + QStringLiteral("/PhoneCur.mdb");
    // The root call records are attached to dbSwitch while the root site is in use.
    if (!CopyFileTo(work, QStringLiteral("Switch.mdb"), terminalDb, &err) ||
        !CopyFileTo(work, QStringLiteral("PhoneCur.mdb"), dbSwitch.isOpen() ? dbSwitch : terminalDb, &err))
        return abandon(err);
    try {
        platform::Database c = platform::Database::open(cur);
        platform::Database s = platform::Database::open(work + QStringLiteral("/Switch.mdb"));
        {
            platform::Transaction tx(c);
            platform::Transaction txs(s);
            c.execute(QStringLiteral("delete from Tab_Phone"));
            c.execute(QStringLiteral("delete from tab_errPh"));
            // The root station file's copy of its recent charges and calls is
            // what an opening gives back to a call file lacking them: left in the
            // site's, the root's calls would be billed in the site's books too.
            for (const QString& t : {ModSwitch::kLedgerMirror, ModSwitch::kCallMirror})
                if (s.hasTable(t)) s.execute(QStringLiteral("delete from %1").arg(s.qualified(t)));
            // The site is a station of its own from here: its files carry its
            // own name (a backup of the root is not taken for the site's, nor
            // the site's at the root), and its journal begins with it (the
            // root's charges, moved entries and backups' marks are not the site's).
            ModSwitch::GiveOwnJournal(s, c);
            txs.commit();
            tx.commit();
        }
        s.close();
        c.execute(QStringLiteral("VACUUM"));
        c.close();
    } catch (const platform::DbError& e) {
        return abandon(platform::OperatorText(e));
    }
    platform::syncDir(work);
    if (QFileInfo::exists(target) || std::rename(QFile::encodeName(work).constData(), QFile::encodeName(target).constData()) != 0)
        return abandon(QStringLiteral("无法创建目录 %1 %2").arg(QDir::toNativeSeparators(target), systemText()));
    platform::syncDir(root);
    return true;
}

bool RenameSiteDirectory(const QString& oldName, const QString& newName, QString* error) {
    const QString root = RootDataDir();
    const QString from = platform::resolveCI(root, oldName);
    const QString to = root + newName;
    if (oldName.contains(QLatin1Char('/'))) {
        // A name stored before names were checked, that reaches into a folder.
        if (error)
            *error = QStringLiteral("站点名称%1含有“/”，不能重命名，目录%2保持不变").arg(oldName, QDir::toNativeSeparators(from));
        return false;
    }
    if (!IsSiteRow(oldName)) {
        if (error) *error = QStringLiteral("找不到站点目录 %1").arg(QDir::toNativeSeparators(root + oldName));
        return false;
    }
    if (QFileInfo::exists(to) && !platform::sameFile(from, to)) {
        if (error) *error = newName + QStringLiteral("站点已存在");
        return false;
    }
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0) {
        if (error) *error = QStringLiteral("无法重命名目录 %1 %2").arg(QDir::toNativeSeparators(from), systemText());
        return false;
    }
    platform::syncDir(root);
    return true;
}

bool MoveSiteDirectoryAside(const QString& pathIn, QString* aside, QString* error) {
    aside->clear();
    QString path = QDir::fromNativeSeparators(pathIn);
    while (path.endsWith(QLatin1Char('/')) && path.size() > 1) path.chop(1);
    const QString name = QFileInfo(path).fileName();
    auto refuse = [&] {
        if (error) *error = QStringLiteral("不能删除目录 %1").arg(QDir::toNativeSeparators(pathIn));
        return false;
    };
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) return refuse();
    // Only a direct child of the root data directory, named as it is written.
    const QString root = RootDataDir();
    const QString parent = canonicalDir(QFileInfo(path).absolutePath());
    if (parent.isEmpty() || parent != canonicalDir(root)) return refuse();
    const QString actual = platform::resolveCI(root, name);
    const QFileInfo fi(actual);
    if (!fi.exists() && !fi.isSymLink()) return true;
    if (!isLink(fi)) {
        const QString c = canonicalDir(actual);
        if (c.isEmpty() || c == canonicalDir(DataPath)) return refuse();
    }
    // One rename takes the whole site away: its directory is either there as
    // it was or gone from under its name, never half emptied.
    QString target = root + QStringLiteral(".site-") + name + QStringLiteral(".del");
    for (int n = 2; QFileInfo::exists(target) || QFileInfo(target).isSymLink(); ++n)
        target = root + QStringLiteral(".site-%1.del%2").arg(name).arg(n);
    if (std::rename(QFile::encodeName(actual).constData(), QFile::encodeName(target).constData()) != 0) {
        if (error) *error = QStringLiteral("无法删除目录 %1 %2").arg(QDir::toNativeSeparators(actual), systemText());
        return false;
    }
    platform::syncDir(root);
    *aside = target;
    return true;
}

bool PutSiteDirectoryBack(const QString& aside, const QString& path) {
    if (aside.isEmpty()) return true;
    QString to = QDir::fromNativeSeparators(path);
    while (to.endsWith(QLatin1Char('/')) && to.size() > 1) to.chop(1);
    if (QFileInfo::exists(to)) return false;
    const bool ok = std::rename(QFile::encodeName(aside).constData(), QFile::encodeName(to).constData()) == 0;
    if (ok) platform::syncDir(RootDataDir());
    return ok;
}

bool RemoveSiteDirectoryAside(const QString& aside, QString* error) {
    return aside.isEmpty() || removeTree(aside, error);
}

bool DeleteSiteDirectory(const QString& pathIn, QString* error, bool* existed) {
    if (existed) *existed = false;
    QString aside;
    if (!MoveSiteDirectoryAside(pathIn, &aside, error)) return false;
    if (existed) *existed = !aside.isEmpty();
    return RemoveSiteDirectoryAside(aside, error);
}

}  // namespace admin
