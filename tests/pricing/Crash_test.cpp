// The engine killed at random moments while records stream in: every record it
// answered "820302" is stored once and charged once, and nothing is charged twice.
#include "support/PricingFixture.h"

#include "core/books/ChargeLog.h"
#include "link/ModComm.h"
#include "pricing/ClsMonitor.h"
#include "pricing/RateCache.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace pricingtest;

namespace {

class CrashTest : public PricingTest {
protected:
    // Closes this process's connection: a child must not share it.
    void closeDatabases() {
        rsUser.close();
        rsFeeRate.close();
        rsIPHead.close();
        dbPhoneCur.close();
        dbSwitch.close();
    }
    // The station's side in a child process: records from `first` on, each
    // reported on `fd` once it was answered "820302"; at `stopAt` it waits
    // for its kill.
    [[noreturn]] void child(const QList<QByteArray>& frames, int first, int stopAt, int fd) {
        openDatabases();
        // A start brings the balances up to the charges logged before the kill.
        ModSwitch::ApplyLoggedCharges();
        rsUser = dbSwitch.openTable(QStringLiteral("user"));
        reopenRates();
        pricing::RateCache::invalidate();
        pricing::RateCache::current();
        const qint32 ready = -1;
        if (::write(fd, &ready, sizeof ready) != sizeof ready) ::_exit(4);
        for (int i = first; i < frames.size(); ++i) {
            if (i == stopAt)
                for (;;) ::pause();
            ModComm::TxRead = ModComm::TxWrite;
            ClsMonitor().Record(frames[i], true);
            if (!sent().contains(QStringLiteral("820302"))) ::_exit(3);
            const qint32 done = i;
            if (::write(fd, &done, sizeof done) != sizeof done) ::_exit(4);
        }
        ::_exit(0);
    }
};

}  // namespace

TEST_F(CrashTest, KilledAtRandomMomentsNothingAnsweredIsLostOrChargedTwice) {
    const quint32 seed = QRandomGenerator::global()->generate();
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    QRandomGenerator rng(seed);
    addUser(7, "1000", 1);
    setExtensionUser(5, 7);
    addRate(QStringLiteral("8"), 7, "1.00", "0");
    QList<QByteArray> frames;
    for (int i = 0; i < 40; ++i) {
        CallRecord r;
        r.start = QDateTime(QDate(2026, 6, 15), QTime(8, 0, 0)).addSecs(60 * i);
        frames << r.frame();
    }
    closeDatabases();

    int answered = 0;   // records answered "820302" so far; the switch sends the next one
    int kills = 0;
    int stalled = 0;   // rounds in a row in which no record was answered
    for (int round = 0; answered < frames.size() && round < 400; ++round) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        // The first life ends in a kill however fast the machine is: its
        // station waits for it at a record drawn.
        const int stopAt = round == 0 ? int(rng.bounded(1, int(frames.size()))) : -1;
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(fds[0]);
            child(frames, answered, stopAt, fds[1]);
        }
        ::close(fds[1]);
        ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
        // Once it has its databases open, let it work for a random while, reading
        // what it answered, then kill it.
        // A slow machine gets longer lives after rounds that took nothing.
        const int lifeMs = int(rng.bounded(40)) + 10 * stalled;
        const int before = answered;
        QElapsedTimer t;
        t.start();
        bool ready = false;
        int status = 0;
        bool exited = false;
        while (!exited && (!ready ? t.elapsed() < 20000 : t.elapsed() < lifeMs)) {
            qint32 done = 0;
            while (::read(fds[0], &done, sizeof done) == sizeof done) {
                if (done < 0) {
                    ready = true;
                    t.restart();
                } else {
                    answered = done + 1;
                }
            }
            exited = ::waitpid(pid, &status, WNOHANG) == pid;
            ::usleep(200);
        }
        if (!exited) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            ++kills;
        } else {
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
        }
        qint32 done = 0;
        while (::read(fds[0], &done, sizeof done) == sizeof done)
            if (done >= 0) answered = done + 1;
        ::close(fds[0]);
        stalled = answered > before ? 0 : stalled + 1;
    }
    ASSERT_EQ(answered, frames.size());
    EXPECT_GT(kills, 0);

    openDatabases();
    ModSwitch::ApplyLoggedCharges();
    EXPECT_EQ(count("Tab_Phone"), frames.size());
    EXPECT_EQ(dbPhoneCur.scalar(QStringLiteral("SELECT count(DISTINCT f_date) FROM Tab_Phone")).toLongLong(),
              frames.size());
    EXPECT_EQ(remainOf(7), yuan("1000") - yuan("1.00") * frames.size());
}
