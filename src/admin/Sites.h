#pragma once
// The sites of the second switch model: one data directory each, directly
// under the root data directory, listed in the root station database's table
// `Terminal`. What the site window and the site chooser share: where the list
// is read, which names a site may take, and the creation, renaming and
// deletion of a site's directory, none of which ever touches a directory that
// is not a site's own.
#include "platform/Db.h"

#include <QString>

namespace admin {

// The root data directory ("data" under the program directory), with a trailing "/".
QString RootDataDir();
// The root station database's file.
QString RootStationFile();

// The connection through which `Terminal` is read and written: `dbSwitch`
// while the root site is in use (one connection for one file), else a
// connection of the caller's own, which it closes when done (`own` true).
platform::Database TerminalDatabase(bool* own);

// The name of the site in use, "默认" for the root directory.
bool IsSiteInUse(const QString& name);

// Why `name` cannot be a site's new name, "" when it can: empty, longer than
// 40 characters, only dots, a character a directory name cannot carry, "默认"
// or the ending of one of the station's own files (".mdb", ".bak", ".dat",
// ".lock"...) give "请输入站点名称(除<默认>外)"; "Backup" and the name of a
// directory that exists under the root data directory (letter case aside)
// give name + "站点已存在". `ownDir` is the directory the site already has
// (its stored name): kept as it is, it is never refused, and its own new name
// may match it.
QString SiteNameRefusal(const QString& name, const QString& ownDir = QString());
// A row of `Terminal` that is a site: its directory exists below the root
// data directory and its name is not ".", ".." or "Backup" (which foreign data
// may hold). The rule for new names is not asked of a site that has its name
// already. The site window and the chooser list only these.
bool IsSiteRow(const QString& name);
// True for a character the site editor lets through: ".", digits, Latin
// letters and characters beyond ASCII (Chinese), nothing that separates paths.
bool SiteNameChar(QChar c);

// The directories under the root data directory that are sites by what
// they hold (second model; none for the others): a site's name, and both
// station files there. Listed in `Terminal` or not.
QStringList SiteDirectoriesFound();
// At the root's opening (second model): every site directory under the root
// that holds both station files and is not listed in `Terminal` (its row lost
// with a station file put back from an older copy) is listed again, by its
// directory's name, under the next number free. Returns how many.
int ListSitesFound();

// Copies the root data directory's database `fileName` into `folder`, step
// by step (through `station` when it has the file open), replacing what is there.
bool CopyFileTo(const QString& folder, const QString& fileName, const platform::Database& station, QString* error);

// Creates the directory of a new site: the root "Switch.mdb" copied step by
// step as it stands, and a "PhoneCur.mdb" copied the same way with its call
// records (`Tab_Phone`, `tab_errPh`) removed, so that nothing the root site
// billed is billed again there. A directory that exists already is never
// used. False with a description when anything failed; what was made is gone.
bool AddSiteDirectory(const QString& name, const platform::Database& terminalDb, QString* error);

// Renames a site's directory; the new name must not exist yet.
bool RenameSiteDirectory(const QString& oldName, const QString& newName, QString* error);

// A site's deletion in two steps. First `path`, when it is a direct child of
// the root data directory other than the site in use ("." and ".." never), is
// renamed in one step to a name no site can take, given in `aside` ("" when
// there was no such directory); on failure nothing was touched. Then what was
// moved aside is removed with everything below it, symbolic links removed,
// never followed; on failure the removal stops there and the rest stays aside.
bool MoveSiteDirectoryAside(const QString& path, QString* aside, QString* error);
bool RemoveSiteDirectoryAside(const QString& aside, QString* error);
// Gives a directory moved aside its site's name again (the site's row could
// not be deleted); false when that name is taken meanwhile.
bool PutSiteDirectoryBack(const QString& aside, const QString& path);
// Both steps. A directory that does not exist gives true with `existed` false.
bool DeleteSiteDirectory(const QString& path, QString* error, bool* existed = nullptr);

}  // namespace admin
