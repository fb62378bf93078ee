// tarvo-switchsim: plays the switch on a pseudo-terminal until killed.
//
//   tarvo-switchsim [--seed N] [--split MAXBYTES] [--gap MS] [--noise P]
//
// Prints the terminal's device path on the first line (put it in the
// station's setting "CommDevice"), then one line per frame the station sends.
// Commands on standard input, one a line:
//   send HEX          a frame, checksum appended      raw HEX     bytes as given
//   announce          "830300"                        quit
//   record ext=5 called=013812345678 dur=65 account=1234 type=1 ch=3
//   deposit ext=5 fen=500 [deducted]
//   live ext=5 called=0101234 ch=2 [kind=1]
//   card N s1 .. s8   port CH STATE CALLING CALLED [THIRD]   balance EXT [ACCOUNT]
//   reply normal|silent|01|03|badsum|double|late [PREFIX [TIMES]]
#include "sim/Switch.h"

#include <QDateTime>
#include <QStringList>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <map>
#include <poll.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_stop = 0;
void onSignal(int) { g_stop = 1; }

std::map<QString, QString> keyValues(const QStringList& words) {
    std::map<QString, QString> kv;
    for (const QString& w : words) {
        const int eq = w.indexOf('=');
        if (eq > 0) kv[w.left(eq)] = w.mid(eq + 1);
        else kv[w] = QString();
    }
    return kv;
}

sim::Reply replyOf(const QString& w) {
    if (w == "silent") return sim::Reply::Silent;
    if (w == "01") return sim::Reply::Status01;
    if (w == "03") return sim::Reply::Status03;
    if (w == "badsum") return sim::Reply::BadSum;
    if (w == "double") return sim::Reply::Doubled;
    if (w == "late") return sim::Reply::Late;
    return sim::Reply::Normal;
}

bool command(sim::Switch& sw, const QString& line) {
    QStringList w = line.simplified().split(' ', Qt::SkipEmptyParts);
    if (w.isEmpty()) return true;
    const QString cmd = w.takeFirst().toLower();
    auto kv = keyValues(w);
    auto num = [&](const char* key, int def) { return kv.count(key) ? kv[key].toInt() : def; };
    if (cmd == "quit") return false;
    if (cmd == "send") sw.sendHex(w.join(""));
    else if (cmd == "raw") sw.sendRaw(sim::fromHex(w.join("")));
    else if (cmd == "announce") sw.announce();
    else if (cmd == "record") {
        sim::CallRecord r;
        r.extAddr = num("ext", 0);
        r.called = kv["called"];
        r.durationSec = num("dur", 60);
        r.account = kv["account"];
        r.type = quint8(num("type", 1));
        r.channel = num("ch", 0);
        r.start = QDateTime::currentDateTime().addSecs(-r.durationSec);
        sw.sendCallRecord(r);
    } else if (cmd == "deposit") {
        sim::DepositEvent d;
        d.extAddr = num("ext", 0);
        d.fen = num("fen", 0);
        d.deducted = kv.count("deducted") > 0;
        d.when = QDateTime::currentDateTime();
        sw.sendDeposit(d);
    } else if (cmd == "live") {
        sim::LiveCall c;
        c.extAddr = num("ext", 0);
        c.dialled = kv["called"];
        c.channel = num("ch", 0);
        c.kind = num("kind", 0);
        sw.sendLiveCall(c);
    } else if (cmd == "card" && !w.isEmpty()) {
        std::vector<quint8> ports;
        for (int i = 1; i < w.size(); ++i) ports.push_back(quint8(w[i].toInt()));
        sw.sendCardState(w[0].toInt(), ports);
    } else if (cmd == "port" && w.size() >= 4) {
        sw.sendPortState(w[0].toInt(), quint8(w[1].toInt()), quint8(w[2].toInt()), quint8(w[3].toInt()),
                         quint8(w.size() > 4 ? w[4].toInt() : 0));
    } else if (cmd == "balance" && !w.isEmpty()) {
        sw.sendBalanceQuery(w[0].toInt(), w.size() > 1 ? w[1] : QString());
    } else if (cmd == "reply" && !w.isEmpty()) {
        const sim::Reply r = replyOf(w[0]);
        if (w.size() > 1) sw.addRule(w[1], r, w.size() > 2 ? w[2].toInt() : -1);
        else sw.setDefaultReply(r);
    } else {
        std::fprintf(stderr, "unknown command: %s\n", qPrintable(line));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    sim::SwitchOptions opt;
    int split = 0, gap = 3;
    double noise = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const QString a = QString::fromLocal8Bit(argv[i]);
        const QString v = QString::fromLocal8Bit(argv[i + 1]);
        if (a == "--seed") opt.seed = v.toUInt();
        else if (a == "--split") split = v.toInt();
        else if (a == "--gap") gap = v.toInt();
        else if (a == "--noise") noise = v.toDouble();
    }
    sim::Switch sw(opt);
    if (!sw.openPty()) {
        std::fprintf(stderr, "cannot open a pseudo-terminal\n");
        return 1;
    }
    sw.setSplit(split, gap);
    sw.setNoise(noise);
    sw.setObserver([](const sim::Frame& f) {
        std::printf("<- %s\n", qPrintable(f.describe()));
        std::fflush(stdout);
    });
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::printf("%s\n", qPrintable(sw.slavePath()));
    std::fflush(stdout);
    sw.start();

    std::string pending;
    bool stdinOpen = true;
    while (!g_stop) {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        if (!stdinOpen || ::poll(&p, 1, 100) <= 0) {
            if (!stdinOpen) ::usleep(100 * 1000);
            continue;
        }
        char buf[512];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            stdinOpen = false;     // keep playing until killed
            continue;
        }
        pending.append(buf, size_t(n));
        size_t nl;
        while ((nl = pending.find('\n')) != std::string::npos) {
            const QString line = QString::fromLocal8Bit(pending.substr(0, nl));
            pending.erase(0, nl + 1);
            if (!command(sw, line)) g_stop = 1;
        }
    }
    sw.stop();
    return 0;
}
