#pragma once
// The station's link against the switch simulator on a pseudo-terminal, with
// a console of the test's own (grid and status bar) registered in place of
// the main window.
#include "core/Console.h"
#include "core/ModUpgrade.h"
#include "core/ModDefine.h"
#include "core/Settings.h"
#include "core/frmDialog.h"
#include "core/frmProgress.h"
#include "link/FrameCodes.h"
#include "link/ModComm.h"
#include "link/MonitorSink.h"
#include "platform/AppExit.h"
#include "platform/Comm.h"
#include "platform/FlexGrid.h"
#include "platform/Prompts.h"
#include "platform/StatusBar.h"
#include "sim/RowFrames.h"
#include "sim/Switch.h"
#include "support/StationLink.h"
#include "support/Fixtures.h"
#include "transfer/ModToolbar.h"

#include <QCoreApplication>
#include <QSet>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <memory>

namespace transfertest {

// The deposit the switch holds for the extension, in fen.
inline qint64 depositAt(sim::Switch& sw, int address) {
    return sim::decodeExtDeposit(sw.row(sim::tables::ExtDeposit, address).value_or(QByteArray()))->fen;
}
// How often a change (not one of nothing) for the extension is among `frames` (hex).
inline int depositChangesIn(const QStringList& frames, int address) {
    int n = 0;
    for (const QString& h : frames)
        if (h.startsWith(QStringLiteral("A507%1").arg(address, 2, 16, QLatin1Char('0')).toUpper()) && h.mid(6, 2) != "00" &&
            h.mid(8) != "000000")
            ++n;
    return n;
}

class TestConsole : public core::Console {
public:
    TestConsole() {
        fgDisp = new platform::FlexGrid(&window);
        sbrInfo = new platform::StatusBar(5, &window);
        core::RegisterConsole(this);
    }
    QWidget* ConsoleWidget() override { return &window; }
    void Form_Load() override {}
    bool NotExit(int) override { return true; }
    [[noreturn]] void CloseApp() override { platform::EndProgram(0); }
    void picRun_DblClick() override {}
    bool ShowView(const QString&) override { return false; }
    QWidget window;
};

class TransferTest : public testsupport::StationDbTest {
protected:
    void SetUp() override {
        StationDbTest::SetUp();
        WorkerID = QStringLiteral("0000");
        WorkerName = QStringLiteral("管理员");
        WorkerRights = QStringList{QStringLiteral("0")};
        ASSERT_TRUE(link.open(sw));
        sent();   // the opening's own orders and answers
        sw.clearReceived();
        console = std::make_unique<TestConsole>();
    }
    void TearDown() override {
        frmProgress::unload();
        frmDialog::unload();
        console.reset();
        link.close();
        StationDbTest::TearDown();
    }

    // Everything the switch received since the last clearReceived(), as hex
    // without sums, once every order the station put on the line before the
    // call has reached it: a probe sent behind them comes after them on the
    // line, and is waited for. The switch leaves that probe unanswered, and
    // the probes are left out (the station sends none but at its opening).
    QStringList sent() {
        const size_t from = sw.receivedCount();
        sw.setAnswerProbe(false);
        ModComm::SendOrder(QString(FrameCode::kLinkProbe), false, 4, true);
        const bool through = sw.waitFor(QString(FrameCode::kLinkProbe), 30000,
                                        [] { QCoreApplication::processEvents(); }, from).has_value();
        sw.setAnswerProbe(true);
        EXPECT_TRUE(through) << "the line did not carry the station's orders";
        QStringList out;
        for (const sim::Frame& f : sw.received())
            if (!f.startsWith(QString(FrameCode::kLinkProbe))) out << f.hex();
        return out;
    }
    // The same, once a frame starting with `prefix` has reached the switch:
    // an order sent without a wait may still be on its way when the command returns.
    QStringList sentThrough(const QString& prefix, int ms = 3000) {
        sw.waitFor(prefix, ms, [] { QCoreApplication::processEvents(); });
        return sent();
    }
    // Codes (two bytes, three for table frames) of what was sent, in order.
    QStringList codes() {
        QStringList out;
        for (const QString& h : sent()) out << (h.startsWith("81") || h.startsWith("96") ? h : h.left(4));
        return out;
    }
    // The line goes quiet: every answer the switch still owes (late, repeated)
    // has been written, and the station has handled it.
    void drain() {
        EXPECT_TRUE(sw.waitWritten(30000));
        EXPECT_TRUE(ModComm::DrainLink(30000));
    }
    // The link met as by a station that has just opened it.
    void freshLink() {
        ModComm::ResetLink();
        g_NoAnswerCount = 0;
    }
    int count(const QString& sql, const platform::Params& p = {}) { return dbSwitch.scalar(sql, p).toInt(); }
    // The view's table downloaded by the operator, the status bar cleared first.
    void down(const QString& table, int right = 1) {
        CurTable = table;
        sw.clearReceived();
        console->sbrInfo->setPanelText(2, QString());
        ModToolbar::DownTable(right);
    }
    // The addresses of the table's rows still pending, in order ("2,3").
    QString pendingOf(const char* table) {
        return dbSwitch
            .scalar(QStringLiteral("select group_concat(Address) from (select Address from %1 where bSet<>0 "
                                   "order by Address)").arg(QLatin1String(table)))
            .toString();
    }
    // The extra heads of addresses below `n`, pending.
    void extraHeads(int n) {
        for (int a = 0; a < n; ++a) dbSwitch.execute("insert into ExtraHead values(?, ?, 1)", {a, QStringLiteral("0%1").arg(a)});
    }
    // The extensions below `below` pending, the others not.
    void pendingExtensions(int below) {
        extBelow = below;
        dbSwitch.execute("update Extension set bSet=0");
        dbSwitch.execute("update Extension set bSet=1 where Address<?", {below});
    }
    // The rows the station holds as downloaded that the switch lacks: each
    // done row's key is in the switch's table (the tables start empty), each
    // done head among the switch's heads. Of the extensions, only those below
    // `extBelow` were to go.
    QStringList doneNotHeld(const char* table) {
        QStringList lacking;
        const QString t = QLatin1String(table);
        if (t == QLatin1String("CityHead")) {
            QSet<QString> heads;
            for (const auto& [key, body] : sw.table(sim::tables::CityHead))
                if (const auto h = sim::decodeHeadRow(body, true)) heads.insert(h->head);
            platform::Recordset rs = dbSwitch.query("select HeadID from CityHead where bSet=0 order by HeadID");
            for (rs.moveFirst(); !rs.eof(); rs.moveNext())
                if (!heads.contains(rs.str(QStringLiteral("HeadID")))) lacking << rs.str(QStringLiteral("HeadID"));
            return lacking;
        }
        const QString simTable = t == QLatin1String("Extension") ? sim::tables::Extension : sim::tables::ExtraHead;
        const int below = t == QLatin1String("Extension") ? extBelow : 1 << 20;
        platform::Recordset rs = dbSwitch.query(
            QStringLiteral("select Address from %1 where bSet=0 and Address<? order by Address").arg(t), {below});
        for (rs.moveFirst(); !rs.eof(); rs.moveNext())
            if (!sw.row(simTable, int(rs.lng(QStringLiteral("Address"))))) lacking << rs.str(QStringLiteral("Address"));
        return lacking;
    }
    int extBelow = 6;
    // The extensions' deposits (the second model's tables), the switch's in fen.
    void depositTables() {
        ASSERT_NE(ModUpgrade::CreateTable(dbSwitch, QStringLiteral("ExtDeposit"), false), 0);
        ASSERT_NE(ModUpgrade::CreateTable(dbSwitch, QStringLiteral("ExtDepositHistory"), false), 0);
    }
    qint64 atSwitch(int address) { return depositAt(sw, address); }
    void hold(int address, qint64 fen) { sw.setRow(sim::tables::ExtDeposit, address, sim::extDepositRow(address, fen)); }
    // The station's change of the extension's deposit, pending.
    void change(int address, const char* yuan) {
        dbSwitch.execute("delete from ExtDeposit where Address=?", {address});
        dbSwitch.execute("insert into ExtDeposit(Address,ChangeValue,bSet) values(?,?,1)",
                         {address, platform::Currency::parse(QString::fromLatin1(yuan))->toVariant()});
    }
    QString status() { return console->sbrInfo->panelText(2); }
    QStringList opLog() {
        QStringList out;
        platform::Recordset rs = dbSwitch.query(QStringLiteral("select * from tab_oplog order by rowid"));
        for (rs.moveFirst(); !rs.eof(); rs.moveNext()) out << rs.value(3).toString();
        return out;
    }
    // The operator's choice in the parameters-or-numbers dialog.
    static void choose(int button) {
        platform::script::onModal(QStringLiteral("frmDialog"), [button](QDialog* d) {
            static_cast<frmDialog*>(d)->cmdSet[button]->click();
        });
    }

    sim::Switch sw;
    testsupport::StationLink link;
    std::unique_ptr<TestConsole> console;
};

}  // namespace transfertest
