#pragma once
// Shared fixtures: a fresh station data directory in a temporary program
// directory, scripted prompts, and checks every test gets for free.
#include "core/ModDefine.h"
#include "platform/Db.h"
#include "support/CallRows.h"

#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace testsupport {

// A temporary program directory with "data/" holding a fresh station.
class StationDir {
public:
    explicit StationDir(int model = 0, bool withData = true);
    QString appPath() const;   // ends with "/"
    QString dataPath() const;  // appPath + "data/"
    QString file(const QString& name) const { return dataPath() + name; }
private:
    QTemporaryDir root_;
};

// Base for tests of the station's code: fresh globals and data directory,
// prompts answered by script, the program's end observed (ProgramEnded thrown),
// and at the end: no unexpected prompt. (A yield inside a transaction fails
// any test, whatever its fixture: see gtest_main.cpp.)
class StationTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Opens switch.mdb as dbSwitch with PhoneCur.mdb attached as dbPhoneCur,
    // both in write-ahead mode, as the station opens them.
    void openDatabases();
    std::unique_ptr<StationDir> dir;
    int model = 0;
};

// The station's waits for the switch pass ten times faster from now on (a
// silent switch's time-outs run out quickly); the switch answers in real
// time. The test's end puts the clock back.
void fastTimeouts();

// Answers the next login window: worker `id` with password `pwd` (a refused
// login leaves the window, which is then closed through its exit button), or
// with `cancel` the exit button alone.
void scriptLogin(const QString& id = QStringLiteral("0000"), const QString& pwd = QStringLiteral("0000"),
                 bool cancel = false);

// Fails the running test when the log of a station run by tarvo-testrunner
// says a wait yielded while a transaction was open ("YIELDS_IN_TRANSACTION").
void expectNoYieldInTransaction(const QStringList& runLog);

// The bytes of the file at `path` ("missing" when it does not open).
QByteArray bytesOf(const QString& path);
// The file at `path` made to hold `bytes` alone.
void writeBytes(const QString& path, const QByteArray& bytes);

// Makes the database file at `path` one page longer without giving that page
// to any table or to the free list: the file opens and reads as before, and
// only quick_check finds the page that is never used.
void addOrphanPage(const QString& path);

// Copies every file of the data directory `dataPath` (the station down) to
// where it stands, keeping its times, as a copy of the whole directory made
// with them (cp -a, a backup tool) leaves it: each file under another inode.
void copyDataDirKeepingTimes(const QString& dataPath);

// Makes the files of the data directory `dataPath` (the station down) what
// the version before the numbered journal left: the call file's log without
// numbers or kinds (its charges in their order; that version logged nothing
// else), the station file without its mark, its copies of the entries and
// calls, and neither file naming its station; the safety copies alike. False,
// and nothing changed, when the station file had not applied every entry
// (that version applied a charge in the commit of its call).
bool makePreviousVersion(const QString& dataPath);

// A kill while the box whose text holds `text` stands: `act` (an opening or
// a storing that shows it) is stopped by a throw there, with what the box
// tells of committed. The prompts are then fresh, that box answered once.
// True when `act` reached the box.
bool killedAtBox(const QString& text, const std::function<void()>& act);

// A StationTest whose databases are open from the start.
class StationDbTest : public StationTest {
protected:
    void SetUp() override {
        StationTest::SetUp();
        openDatabases();
    }
};

}  // namespace testsupport
