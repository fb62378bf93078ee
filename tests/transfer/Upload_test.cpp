// Tables read back from the simulated switch: whole tables into shadow
// tables, verification with the difference dialog, the board layout, the
// flexible numbers and selected grid rows.
#include "transfer/TransferFixture.h"

#include "core/ModUpgrade.h"
#include "core/books/SafetyCopies.h"
#include "core/StationFiles.h"
#include "core/books/TableCopy.h"
#include "link/TraceList.h"
#include "link/frmSRV.h"
#include "params/OptionLists.h"
#include "params/SavePara.h"
#include "params/ShowTable.h"
#include "params/TableViews.h"
#include "platform/Clock.h"
#include "transfer/ModToolbar.h"
#include "transfer/Upload.h"
#include "transfer/frmVerify.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QRegularExpression>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace transfertest;

namespace {

QByteArray bytes(const char* hex) { return QByteArray::fromHex(QByteArray(hex).replace(' ', "")); }

// The column names the difference dialog shows in red.
QStringList redNames(frmVerify* v) {
    QStringList out;
    for (int r = 1; r < v->fgVerify->Rows(); ++r)
        if (v->fgVerify->CellForeColorAt(r, 0) == QColor(255, 0, 0))
            out << v->fgVerify->TextMatrix(r, 0);
    return out;
}

class Upload : public TransferTest {
protected:
    void TearDown() override {
        platform::testing::setTick(nullptr);
        frmVerify::unload();
        TransferTest::TearDown();
    }
    // The console grid shows `key` as the navigation tree would.
    void showView(const QString& key) {
        CurTable = key;
        ParaMode.clear();
        g_Modified = false;   // a view shown afresh holds no edits
        platform::FlexGrid& g = *console->fgDisp;
        const QString two = QStringLiteral(">物理地址|>字头          ");
        if (key == "Extension") ModSwitch::ShowExtGrid(g, key, true);
        else if (key == "Relay") ModSwitch::ShowRelayGrid(g, key, true);
        else if (key == "PabxFeeRate") ModSwitch::ShowPabxFeeRate(g, key, true);
        else if (key == "PabxTimes") ModSwitch::ShowPabxTimes(g, key, true);
        else if (key.startsWith("Router"))
            ModGeneral::ShowTable(g, "Select PortAddr,AddHead,bSet From AddHead where Router=?", two, 0, 1, true,
                                  {key.right(1).toInt()});
        else if (key == "LanHead")
            ModGeneral::ShowTable(g, "Select * From LanHead order by headtype,headid,length(headid)",
                                  ">本机字头|<本机类别|>号长|>延时|>路由1|>路由2", 0, 1, true);
        else if (key == "Account")
            ModGeneral::ShowTable(g, "select * from Account",
                                  ">物理地址|>帐号|等级一|等级二|押金等级|闭锁|清密码|所属用户", 0, 1, true);
        else ModGeneral::ShowTable(g, QStringLiteral("select * from %1").arg(key), two, 0, 1, true);
    }
    void down(const QString& key) {
        CurTable = key;
        if (key == "Extension") choose(1);
        ModToolbar::DownTable(1);
        ASSERT_EQ(status(), "下载成功") << key.toStdString();
    }
    void verify(const QString& key) {
        showView(key);
        console->sbrInfo->setPanelText(2, QString());
        ModToolbar::ToolbarUpLoadOrVerify(true);
    }
    // Time-outs of the link pass twenty times faster.
    void fastTimeouts() {
        auto t = std::make_shared<QElapsedTimer>();
        t->start();
        platform::testing::setTick([t] { return t->elapsed() * 20; });
    }
    int rows(const QString& table) { return dbSwitch.scalar(QStringLiteral("select count(*) from %1").arg(table)).toInt(); }
    // The view shown, the grid's rows `first` to `last` selected.
    void select(const QString& key, int first, int last) {
        showView(key);
        GridSelFirst = first;
        GridSelLast = last;
        sw.clearReceived();
    }
    // The asks sent that start with `prefix`, each as its code and key ("88040002").
    QStringList asks(const QString& prefix) {
        QStringList out;
        for (const QString& h : sent())
            if (h.startsWith(prefix)) out << h.left(8);
        return out;
    }
    // The grid's cell under the column titled `title`; a title the grid lacks reads as "<no column>".
    QString cell(int row, const QString& title) {
        const int col = ModSwitch::GetColIndex(title, *console->fgDisp);
        return col < 0 ? QStringLiteral("<no column>") : console->fgDisp->TextMatrix(row, col);
    }
    // The extra heads 100.. downloaded, then those of `differ` changed to 55 at the switch.
    void extraHeadsDiffering(std::initializer_list<int> differ) {
        for (int a = 0; a < 256; ++a) dbSwitch.execute("insert into ExtraHead values(?,?,0)", {a, QString::number(100 + a)});
        down("ExtraHead");
        for (int a : differ)
            sw.setRow(sim::tables::ExtraHead, a, bytes(QByteArray("940A 000") + QByteArray::number(a) + " 55FF FFFF FFFF"));
    }
    // `text` typed in the dialog's number box and entered; the difference it then shows.
    static int typeAndEnter(frmVerify* v, const QString& text) {
        v->txtAddr->setFocus();
        v->txtAddr->selectAll();
        for (QChar c : text) {
            QKeyEvent k(QEvent::KeyPress, c == '.' ? Qt::Key_Period : Qt::Key_0 + (c.unicode() - '0'), Qt::NoModifier,
                        QString(c));
            QApplication::sendEvent(v->txtAddr, &k);
        }
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(v->txtAddr, &enter);
        QKeyEvent up(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(v->txtAddr, &up);
        QCoreApplication::processEvents();
        return v->DifferNo();
    }
};

}  // namespace

// A table an upload replaces, saved, is kept by the next start: the start's
// check against the copy taken before the upload sees a sound file.
TEST_F(Upload, AnUploadSavedOutlivesTheNextStart) {
    auto start = [this] {
        ModSwitch::OpenAllDB(false);
        ModSwitch::CompactDB(QStringLiteral("Switch.mdb"));
        openDatabases();
    };
    for (const char* key : {"Shrink", "ExtraHead", "Router1", "Router2"}) {
        platform::script::answer("已损坏", platform::rOK);   // told, should the start put back the copy
        const QString where = QString(key).startsWith("Router")
                                  ? QStringLiteral("AddHead where Router=%1").arg(QString(key).right(1))
                                  : QString(key);
        start();   // the copy holds the station's table as it was
        showView(key);
        ModToolbar::ToolbarUpLoadOrVerify(false);
        ASSERT_EQ(ParaMode, "UpSend") << key;
        platform::script::answer("要保存上传的参数吗?", platform::rYes);
        ModSwitch::SaveSwitchPara(11, true);
        const int saved = rows(where);
        EXPECT_GT(saved, 0) << key;
        start();
        EXPECT_EQ(rows(where), saved) << key;
    }
    for (const auto& box : platform::script::shown()) EXPECT_FALSE(box.text.contains("已损坏")) << box.text.toStdString();
}

TEST_F(Upload, SwitchFeeRatesAndTimesKeepTheirShadowTablesInBothModels) {
    // Downloaded, then verified as the switch holds it.
    const auto same = [&](const QString& key) {
        down(key);
        verify(key);
        EXPECT_EQ(status(), "话务台与集团电话参数设置完全一致") << key.toStdString();
    };
    dbSwitch.execute("insert into PabxFeeRate values('12', 1, 3, 60, ?, 6, ?, 0, 0, 0, 1)",
                     {platform::Currency::fromFen(300), platform::Currency::fromFen(50)});
    same("PabxFeeRate");
    EXPECT_TRUE(dbSwitch.hasTable("pPabxFeeRate"));

    // The segments go down by their place in the table, and come back under it.
    dbSwitch.execute("update PabxTimes set SegNo=SegNo+10 where SegNo=(select max(SegNo) from PabxTimes)");
    same("PabxTimes");
    EXPECT_EQ(dbSwitch.scalar("select group_concat(SegNo) from (select SegNo from pPabxTimes order by SegNo)").toString(),
              "1,2,3,4,5,6,7,8");

    // The second model's shorter frames: what they do not carry comes back as grade 8 and 100s.
    SwitchModel = 2;
    same("PabxFeeRate");
    EXPECT_EQ(dbSwitch.scalar("select feerategrade from pPabxFeeRate").toInt(), 8);
    same("PabxTimes");
    EXPECT_EQ(dbSwitch.scalar("select count(*) from pPabxTimes where InnerPercent2=100 and LanPercent2=100").toInt(), 8);
    SwitchModel = 0;
}

TEST_F(Upload, StreamsEndEarlyAndTimeOutsLeaveTheShadowTable) {
    const auto cityHeads = [&](int from, int to) {
        for (int i = from; i < to; ++i)
            sw.setRow(sim::tables::CityHead, i, bytes("860B01") + QByteArray::fromHex(QString("%1").arg(1000 + i).toLatin1()) +
                                                    bytes("FFFF 04 00 01 02"));
    };
    cityHeads(0, 60);
    sw.endNextStreamAfter(40);
    CurTable = "CityHead";
    QVector<transfer::UpRecord> list;
    ASSERT_TRUE(ModToolbar::UpLoadTable(list, "上传市话字头"));
    EXPECT_EQ(rows("pCityHead"), 40);
    EXPECT_EQ(codes().first(), "810381");

    SwitchModel = 1;
    cityHeads(60, 1024);
    ASSERT_TRUE(ModToolbar::UpLoadTable(list, "上传市话字头"));
    EXPECT_EQ(rows("pCityHead"), 1024);
    SwitchModel = 0;

    // A time-out at row 17 leaves the shadow table of the last upload.
    dbSwitch.execute("create table pExtraHead as select * from ExtraHead");
    dbSwitch.execute("insert into pExtraHead values(7, '99', 0)");
    fastTimeouts();
    sw.clearReceived();
    sw.addRule("9304", sim::Reply::Silent, 1, 17);
    CurTable = "ExtraHead";
    EXPECT_FALSE(ModToolbar::UpLoadTable(list, "上传附加字头"));
    EXPECT_EQ(rows("pExtraHead"), 1);
    const QStringList asked = asks("9304");
    EXPECT_EQ(asked.size(), 18);
    EXPECT_EQ(asked.last(), "93040011");
    EXPECT_FALSE(frmProgress::exists());

    // So does a frame shorter than its layout, and the command says so.
    sw.addRule("9304", sim::Reply::Short, 1, 3);
    showView("ExtraHead");
    ModToolbar::ToolbarUpLoadOrVerify(false);
    EXPECT_EQ(status(), "上传附加字头失败!");
    EXPECT_EQ(rows("pExtraHead"), 1);
    EXPECT_EQ(sent().last(), "960301");
}

TEST_F(Upload, RequestsOfPerRowTables) {
    QVector<transfer::UpRecord> list;
    CurTable = "Relay";
    sw.clearReceived();
    ASSERT_TRUE(ModToolbar::UpLoadTable(list, "x"));
    const QStringList relay = asks("8804");
    ASSERT_FALSE(relay.isEmpty());
    EXPECT_EQ(relay.first(), "880400E0");
    EXPECT_EQ(relay.size(), rows("pRelay"));

    dbSwitch.execute("insert into AddHead values(1, 5, '77', 0)");
    CurTable = "Router2";
    sw.clearReceived();
    ASSERT_TRUE(ModToolbar::UpLoadTable(list, "x"));
    const QStringList route = asks("9104");
    ASSERT_EQ(route.size(), 512);
    EXPECT_EQ(route[0], "91040100");
    EXPECT_EQ(route[255], "910401FF");
    EXPECT_EQ(route[256], "91040200");
    EXPECT_EQ(dbSwitch.scalar("select AddHead from pAddHead where Router=1 and PortAddr=5").toString(), "77");

    CurTable = "Account";
    sw.clearReceived();
    ASSERT_TRUE(ModToolbar::UpLoadTable(list, "x"));
    const QStringList acc = asks("8804");
    ASSERT_EQ(acc.size(), 512);
    EXPECT_EQ(acc[0], "88040800");
    EXPECT_EQ(acc[511], "880409FF");

    // An extension head without a length takes the flexible head's; the flexible head stays as sent.
    sw.setRow(sim::tables::LanHead, 0, bytes("860B 16 8F FF FF FF 00 00 01 02"));
    sw.setRow(sim::tables::LanHead, 1, bytes("860B 1D EF FF FF FF 00 00 00 00"));
    CurTable = "LanHead";
    ASSERT_TRUE(ModToolbar::UpLoadTable(list, "x"));
    EXPECT_EQ(dbSwitch.scalar("select HeadLen from pLanHead where HeadType=22").toInt(), 4);
    EXPECT_EQ(dbSwitch.scalar("select HeadLen from pLanHead where HeadType=29").toInt(), 0);
}

// The difference dialog: the rows that differ in red, going from one to the
// next, a number typed and validated or entered (Enter goes to the typed
// difference only; a number past the last is refused with one box, which
// takes the focus; a half goes to the even number), and its end when another
// window of the station is active.
TEST_F(Upload, DifferenceDialog) {
    extraHeadsDiffering({3});
    int calls = 0;
    QList<int> seen;
    int messages = -1;
    bool openAfter = true;
    platform::script::onModal("frmVerify", [&](QDialog* d) {
        auto* v = static_cast<frmVerify*>(d);
        ++calls;
        if (calls == 1) {
            EXPECT_EQ(v->lblPrompt->text(), "不一致的参数行共有 1行");
            EXPECT_FALSE(v->cmdNext->isEnabled());
            EXPECT_EQ(v->fgVerify->TextMatrix(2, 1), "103");
            EXPECT_EQ(v->fgVerify->TextMatrix(2, 2), "55");
            EXPECT_EQ(v->fgVerify->CellForeColorAt(1, 0), v->palette().color(QPalette::WindowText));
            EXPECT_EQ(v->fgVerify->CellForeColorAt(2, 0), QColor(255, 0, 0));
            v->cmdClose->click();
            return;
        }
        EXPECT_EQ(v->lblPrompt->text(), "不一致的参数行共有 3行");
        v->cmdNext->click();
        v->cmdNext->click();
        EXPECT_EQ(v->DifferNo(), 3);
        EXPECT_FALSE(v->cmdNext->isEnabled());
        EXPECT_EQ(v->fgVerify->TextMatrix(1, 1), "9");
        v->cmdPriv->click();
        EXPECT_TRUE(v->cmdNext->isEnabled());
        v->txtAddr->setText("4");
        v->txtAddr_Validate();
        EXPECT_EQ(v->txtAddr->text(), "2");
        v->txtAddr->setText("nan");   // reads as a number, names no difference
        v->txtAddr_Validate();
        EXPECT_EQ(v->txtAddr->text(), "2");
        EXPECT_EQ(v->DifferNo(), 2);
        v->txtAddr->setText("1");
        v->txtAddr_Validate();
        EXPECT_FALSE(v->cmdPriv->isEnabled());

        d->activateWindow();
        QCoreApplication::processEvents();
        seen << typeAndEnter(v, "2");
        EXPECT_EQ(v->fgVerify->TextMatrix(1, 1), "5");
        seen << typeAndEnter(v, "3");
        const int before = platform::script::shown().size();
        // The refusal's box takes the focus from the number box, once.
        bool tookFocus = false;
        platform::script::whileShown([&](const QString&) {
            if (tookFocus) return;
            tookFocus = true;
            QFocusEvent out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
            QApplication::sendEvent(v->txtAddr, &out);
        });
        seen << typeAndEnter(v, "4");
        platform::script::whileShown(nullptr);
        messages = platform::script::shown().size() - before;
        EXPECT_EQ(v->txtAddr->text(), "3");
        for (const char* typed : {"2.5", "1.5"}) seen << typeAndEnter(v, QString::fromLatin1(typed));
        // A window of the station opened over it (as a timer's window would be) takes the activation.
        QWidget other;
        other.setWindowModality(Qt::ApplicationModal);
        other.show();
        other.activateWindow();
        openAfter = !QTest::qWaitFor([&] { return !v->isVisible(); });
        if (openAfter) v->cmdClose->click();
    });
    verify("ExtraHead");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(status(), "校验完成");

    for (int a : {5, 9}) sw.setRow(sim::tables::ExtraHead, a, bytes(QByteArray("940A 000") + QByteArray::number(a) + " 55FF FFFF FFFF"));
    for (int refused = 0; refused < 3; ++refused) platform::script::answer("输入错误，请输入1-3之间的数", platform::rOK);
    verify("ExtraHead");
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    EXPECT_EQ(seen, (QList<int>{2, 3, 3, 2, 2}));
    EXPECT_EQ(messages, 1);
    EXPECT_FALSE(openAfter);
    EXPECT_NE(status(), "校验完成");

    // A station row the switch does not have.
    dbSwitch.execute("insert into ExtraHead values(300, '1', 0)");
    platform::script::answer("集团电话参数缺少物理地址 300", platform::rOK);
    verify("ExtraHead");
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    EXPECT_FALSE(frmVerify::exists());
}

TEST_F(Upload, AVerifyStoppedByADatabaseErrorLeavesNoDialogBehind) {
    down("Relay");
    showView("Relay");
    // A row elsewhere that refers to the switch's copy of trunk 1 keeps the
    // copy from being dropped once it has been shown.
    dbSwitch.execute("create table holder(a integer references pRelay(Address))");
    dbSwitch.execute("insert into holder values(1)");
    dbSwitch.execute("PRAGMA foreign_keys=ON");
    ModToolbar::ToolbarUpLoadOrVerify(true);
    dbSwitch.execute("PRAGMA foreign_keys=OFF");
    EXPECT_TRUE(status().startsWith("校验错误:")) << status().toStdString();
    EXPECT_FALSE(status().contains(QRegularExpression("[A-Za-z]"))) << status().toStdString();   // told in Chinese
    EXPECT_FALSE(frmVerify::exists());
}

TEST_F(Upload, BoardLayout) {
    QVector<int> kinds;
    platform::Recordset rs = dbSwitch.query("select dispcard from MonCard where cardlayer=0 order by cardorder");
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) kinds << int(rs.lng("dispcard"));
    ASSERT_GE(kinds.size(), 12);
    QByteArray frame = bytes("9E13 00");
    for (int k = 0; k < 16; ++k) {
        const int lo = 2 * k < kinds.size() ? kinds[2 * k] : 15, hi = 2 * k + 1 < kinds.size() ? kinds[2 * k + 1] : 15;
        frame.append(char(hi * 16 + lo));
    }
    sw.setRow(sim::tables::BoardLayout, 0, frame);
    CurTable = "MonCard";
    ModToolbar::ToolbarUpLoadOrVerify(true);
    EXPECT_EQ(status(), "板块设置完全相同");
    EXPECT_EQ(ParaMode, "9E");
    frame[5] = char(((kinds[5] + 1) % 15) * 16 + kinds[4]);   // the second board of pair 3
    sw.setRow(sim::tables::BoardLayout, 0, frame);
    ModToolbar::ToolbarUpLoadOrVerify(true);
    EXPECT_EQ(status(), "第 6 块板不相同");

    frame[3] = char(0x18);
    sw.setRow(sim::tables::BoardLayout, 0, frame);
    sent();   // what the verifications sent has arrived
    sw.clearReceived();
    ModToolbar::ToolbarUpLoadOrVerify(false);
    EXPECT_EQ(status(), "上传成功");
    // The board view's reports are on again afterwards.
    EXPECT_EQ(sent().filter(QRegularExpression("^8404")), QStringList({"84040000", "84040101"}));
    EXPECT_EQ(dbSwitch.scalar("select dispcard from MonCard where cardlayer=0 and cardorder=0").toInt(), 8);
    EXPECT_EQ(dbSwitch.scalar("select dispcard from MonCard where cardlayer=0 and cardorder=1").toInt(), 1);
    EXPECT_TRUE(g_Modified);
}

TEST_F(Upload, FlexibleNumbers) {
    dbSwitch.execute("insert into LanHead values('8', 20, 3, 0, 1, 2, 0)");
    dbSwitch.execute("update Extension set Head=20, SpringNum='123' where Address in (1, 2)");
    sw.setRow(sim::tables::LanHead, 0, bytes("860B 14 8F FF FF FF 03 00 01 02"));
    sw.setRow(sim::tables::LanHead, 1, bytes("860B 1D EF FF FF FF 04 00 00 00"));
    const int n = ModSwitch::ShowExtGrid(*console->fgDisp, "Extension", true);
    ASSERT_GT(n, 3);
    for (int a = 0; a < n; ++a) sw.setRow(sim::tables::SpringNum, a, bytes("8705 1D 12 34"));
    sw.setRow(sim::tables::SpringNum, 0, bytes("8705 17 45 67"));   // head 23: none in the station
    sw.setRow(sim::tables::SpringNum, 1, bytes("8705 14 7F FF"));
    CurTable = "Extension";
    choose(2);
    ModToolbar::ToolbarUpLoadOrVerify(false);
    EXPECT_EQ(status(), "上传成功");
    EXPECT_EQ(dbSwitch.scalar("select group_concat(h) from (select Head||'/'||SpringNum h from Extension "
                              "where Address<3 order by Address)").toString(),
              "29/4567,20/007,29/1234");
    EXPECT_EQ(rows("LanHead"), 2);
    EXPECT_FALSE(dbSwitch.hasTable("pLanHead"));
    EXPECT_EQ(opLog().last(), "上传弹性号码");
    EXPECT_EQ(console->fgDisp->TextMatrix(2, 2), "8007");

    // The switch's heads differ in number from the station's: nothing is read or written.
    dbSwitch.execute("insert into LanHead values('9', 21, 3, 0, 1, 2, 0)");
    sw.clearReceived();
    platform::script::answer("本机字头校验不一致", platform::rOK);
    choose(2);
    ModToolbar::ToolbarUpLoadOrVerify(false);
    EXPECT_EQ(status(), "上传失败");
    EXPECT_FALSE(codes().contains("810382"));
    EXPECT_EQ(rows("LanHead"), 3);
    EXPECT_EQ(dbSwitch.scalar("select SpringNum from Extension where Address=1").toString(), "007");
}

TEST_F(Upload, SelectedRowsAskExactlyTheirRows) {
    // The download sends the grades its rules give an extension nobody supervises: they differ.
    QStringList prompts, red;
    platform::script::onModal("frmVerify", [&](QDialog* d) {
        auto* v = static_cast<frmVerify*>(d);
        prompts << v->lblPrompt->text();
        red = redNames(v);
        v->cmdClose->click();
    });
    down("Extension");
    select("Extension", 3, 5);
    ModToolbar::mnuVerify_Click(6);
    EXPECT_EQ(asks("8804"), (QStringList{"88040002", "88040003", "88040004"}));
    EXPECT_EQ(prompts, QStringList{"不一致的参数行共有 3行"});
    EXPECT_EQ(red, (QStringList{"等级一", "密码等级"}));
    EXPECT_EQ(GridSelFirst, 3);
    EXPECT_EQ(GridSelLast, 5);
    // Rows never downloaded differ from the switch's blank ones.
    select("Relay", 1, 1);
    ModToolbar::mnuVerify_Click(8);
    EXPECT_EQ(asks("8804"), QStringList{"880400E0"});
    dbSwitch.execute("insert into AddHead values(1, 5, '1', 0)");
    dbSwitch.execute("insert into AddHead values(2, 5, '1', 0)");
    select("Router2", 1, 1);
    ModToolbar::mnuUpSend_Click(13);
    EXPECT_EQ(asks("9104"), QStringList{"91040105"});
    select("Router1", 1, 1);
    ModToolbar::mnuUpSend_Click(13);
    EXPECT_EQ(asks("9104"), QStringList{"91040005"});
    select("Account", 1, 1);
    ModToolbar::mnuVerify_Click(3);
    EXPECT_EQ(asks("8804"), QStringList{"88040800"});

    // A key that is not a number is skipped; with none left nothing is sent.
    select("Account", 1, 1);
    console->fgDisp->setTextMatrix(1, 0, "x");
    ModToolbar::mnuVerify_Click(3);
    EXPECT_TRUE(sent().isEmpty());
}

TEST_F(Upload, SelectedRowsIntoTheGrid) {
    sw.setRow(sim::tables::Extension, 4, bytes("8B16 04 00 88 08 00 FFFFFF 05 7F 7F FE 7F FF FFFFFFFF FF FF"));
    select("Extension", 5, 5);
    ModToolbar::mnuUpSend_Click(6);
    EXPECT_EQ(status(), "上传成功");
    QStringList kinds, hot;
    ModSwitch::GetOptionList("通话类型", kinds);
    ModSwitch::GetOptionList("内部热线", hot);
    EXPECT_EQ(cell(5, "通话限时"), kinds[0] + "," + kinds[2]);
    EXPECT_EQ(cell(5, "内部热线"), hot[121]);
    EXPECT_EQ(cell(5, "叫醒时间"), "");
    EXPECT_EQ(console->fgDisp->CellBackColorAt(5, 3), platform::vbColor(0xFFFFC0));
    EXPECT_TRUE(g_Modified);

    sw.setRow(sim::tables::Account, 2048, bytes("8C08 0800 FFFF 03 0E"));
    select("Account", 1, 10);
    console->window.setWindowTitle("帐号参数");
    ModToolbar::mnuUpSend_Click(3);
    EXPECT_EQ(console->fgDisp->TextMatrix(1, 1), "FFFF");
    QStringList grades;
    ModSwitch::GetOptionList("使用等级", grades);
    EXPECT_EQ(console->fgDisp->TextMatrix(1, 3), grades[14]);
    EXPECT_EQ(opLog().last(), "上传帐号 10 至 1 条记录");
    EXPECT_EQ(GridSelFirst, 1);
    EXPECT_EQ(GridSelLast, 10);

    // Silent at the third of five rows: two rows written, no modified mark, the bracket closed.
    for (int r = 1; r <= 5; ++r) console->fgDisp->setTextMatrix(r, 1, "old");
    g_Modified = false;
    fastTimeouts();
    sw.addRule("8804", sim::Reply::Silent, 1, 2);
    GridSelFirst = 1;
    GridSelLast = 5;
    sw.clearReceived();
    ModToolbar::mnuUpSend_Click(3);
    EXPECT_EQ(status(), "上传失败");
    EXPECT_EQ(console->fgDisp->TextMatrix(2, 1), "FFFF");
    EXPECT_EQ(console->fgDisp->TextMatrix(3, 1), "old");
    EXPECT_FALSE(g_Modified);
    EXPECT_EQ(sent().last(), "960301");
    sw.addRule("8804", sim::Reply::Silent, 1, 2);
    ModToolbar::mnuVerify_Click(3);
    EXPECT_EQ(status(), "校验失败");
    EXPECT_FALSE(frmVerify::exists());
}

TEST_F(Upload, ADatabaseErrorIsReportedAndTheShadowTableKept) {
    // A row elsewhere refers to the shadow table: it cannot be made afresh.
    ASSERT_TRUE(ModSwitch::CreatePTable("LanHead"));
    dbSwitch.execute("insert into pLanHead select * from LanHead");
    dbSwitch.execute("create table holder(a text references pLanHead(HeadID))");
    dbSwitch.execute("insert into holder values('E')");
    dbSwitch.execute("PRAGMA foreign_keys=ON");
    showView("LanHead");
    sw.clearReceived();
    ModToolbar::ToolbarUpLoadOrVerify(false);
    dbSwitch.execute("PRAGMA foreign_keys=OFF");
    EXPECT_TRUE(status().startsWith("上传错误:")) << status().toStdString();
    EXPECT_EQ(rows("pLanHead"), 1);
    EXPECT_FALSE(frmProgress::exists());
    EXPECT_TRUE(core::ConsoleEnabled());
    EXPECT_NE(ParaMode, "UpSend");
}

// Heads the switch holds as one (cut to eight digits) are named, not taken
// for a failure, and the upload is kept.
TEST_F(Upload, HeadsTheSwitchHoldsAsOneAreNamedAndTheUploadKept) {
    dbSwitch.execute("insert into LanHead values('123456789', 20, 3, 0, 1, 2, 1)");
    dbSwitch.execute("insert into LanHead values('12345678', 21, 3, 0, 1, 2, 1)");
    down("LanHead");
    showView("LanHead");
    platform::script::answer("在集团电话中都是 12345678", platform::rOK);
    ModToolbar::ToolbarUpLoadOrVerify(false);
    EXPECT_EQ(status(), "上传本机字头成功!");
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    const QString told = platform::script::shown().value(0).text;
    EXPECT_TRUE(told.contains("本机字头 12345678、123456789 在")) << told.toStdString();
    EXPECT_EQ(ParaMode, "UpSend");
    EXPECT_EQ(dbSwitch.scalar("select count(*) from pLanHead where HeadID='12345678'").toInt(), 1);
    EXPECT_EQ(rows("pLanHead"), rows("LanHead") - 1);
}

TEST_F(Upload, TestModeReadsTheHeadsAgainUntilTheirCountDiffers) {
    sw.setRow(sim::tables::LanHead, 0, bytes("860B 1D EF FF FF FF 04 00 00 00"));
    int reads = 0;
    sw.setObserver([&](const sim::Frame& f) {
        if (f.startsWith("810389") && ++reads == 3)
            sw.setRow(sim::tables::LanHead, 1, bytes("860B 14 8F FF FF FF 03 00 01 02"));
    });
    g_TestMode = 1;
    showView("LanHead");
    sw.clearReceived();
    ModToolbar::ToolbarUpLoadOrVerify(false);
    g_TestMode = 0;
    sw.setObserver(nullptr);
    EXPECT_GE(reads, 3);   // the row added at the third read is in it or in the next
    QStringList brackets;
    for (int i = 0; i < reads; ++i) brackets << "960300" << "960301";
    EXPECT_EQ(codes().filter("96030"), brackets);
    EXPECT_EQ(status(), "上传本机字头成功!");
    EXPECT_EQ(console->fgDisp->Rows(), 3);
    EXPECT_EQ(ParaMode, "UpSend");
}

TEST_F(Upload, TestModeStoppedAsTheReportsResumeClosesTheExchangeOnce) {
    sw.setRow(sim::tables::LanHead, 0, bytes("860B 1D EF FF FF FF 04 00 00 00"));
    frmSRV& srv = frmSRV::instance();
    srv.cmdTest->click();
    ASSERT_TRUE(g_TestMode);
    showView("LanHead");
    sw.clearReceived();
    srv.lstRec->clear();
    // The operator stops test mode just after a pass resumed the switch's reports.
    QElapsedTimer real;
    real.start();
    bool stopped = false;
    platform::testing::setTick([&] {
        if (!stopped && g_TestMode && !srv.lstRec->lines().filter("96 03 01").isEmpty()) {
            stopped = true;
            QTimer::singleShot(0, srv.cmdTest, [&srv] { srv.cmdTest->click(); });
        }
        return 5000000 + real.elapsed();
    });
    ModToolbar::ToolbarUpLoadOrVerify(false);
    platform::testing::setTick(nullptr);
    EXPECT_TRUE(stopped);
    EXPECT_FALSE(g_TestMode);
    g_TestMode = 0;
    const QStringList brackets = codes().filter("96030");
    ASSERT_GE(brackets.size(), 2);
    for (int i = 0; i < brackets.size(); ++i) EXPECT_EQ(brackets[i], i % 2 ? "960301" : "960300") << i;
    EXPECT_EQ(brackets.size() % 2, 0);
    EXPECT_EQ(status(), "上传本机字头成功!");
    EXPECT_EQ(ParaMode, "UpSend");
}

TEST_F(Upload, AFlexibleNumberRunThatFailsChangesNothing) {
    dbSwitch.execute("update LanHead set HeadType=21, HeadID='9' where HeadType=29");
    dbSwitch.execute("insert into LanHead values('8', 20, 3, 0, 1, 2, 0)");
    sw.setRow(sim::tables::LanHead, 0, bytes("860B 14 8F FF FF FF 03 00 01 02"));
    sw.setRow(sim::tables::LanHead, 1, bytes("860B 15 7F FF FF FF 02 00 01 02"));
    const int n = ModSwitch::ShowExtGrid(*console->fgDisp, "Extension", true);
    for (int a = 0; a < n; ++a) sw.setRow(sim::tables::SpringNum, a, bytes("8705 14 12 3F"));
    sw.setRow(sim::tables::SpringNum, 2, bytes("8705 17 45 67"));   // neither its head nor the flexible one
    const QString before = dbSwitch.scalar("select group_concat(Head||SpringNum) from Extension").toString();
    CurTable = "Extension";
    choose(2);
    ModToolbar::ToolbarUpLoadOrVerify(false);
    EXPECT_TRUE(status().startsWith("上传失败")) << status().toStdString();
    EXPECT_EQ(dbSwitch.scalar("select group_concat(Head||SpringNum) from Extension").toString(), before);
    EXPECT_EQ(dbSwitch.scalar("select group_concat(HeadID) from (select HeadID from LanHead order by HeadType)").toString(), "8,9");
    EXPECT_FALSE(frmProgress::exists());
    EXPECT_TRUE(opLog().isEmpty());
}

TEST_F(Upload, DepositsAndTrunkRowsIntoTheGrid) {
    SwitchModel = 2;
    ASSERT_NE(ModUpgrade::CreateTable(dbSwitch, QStringLiteral("ExtDeposit"), false), 0);
    dbSwitch.execute("insert into ExtDeposit(Address,RealValue) select Address, 0 from Extension where Address<30");
    sw.setRow(sim::tables::ExtDeposit, 3, bytes("A507 03 00 C1 02 03"));
    // The whole table: a row for every address up to 119.
    CurTable = "ExtDeposit";
    ModToolbar::ToolbarUpLoadOrVerify(false);
    EXPECT_EQ(status(), "上传分机押金参数成功!");
    EXPECT_EQ(rows("pExtDeposit"), 120);
    EXPECT_EQ(dbSwitch.scalar("select RealValue from pExtDeposit where Address=3").toLongLong(),
              platform::Currency::fromFen(66051).raw());
    SwitchModel = 0;

    sw.setRow(sim::tables::Relay, 0xE1, bytes("8916 E1 C0 00 00 03 12 00 01 02 FF FF FF FF FF 88 12 FF FF FF FF"));
    select("Relay", 2, 2);
    ModToolbar::mnuUpSend_Click(8);
    EXPECT_EQ(status(), "上传成功");
    EXPECT_EQ(cell(2, "群呼分机"), "");
    EXPECT_EQ(cell(2, "中继号码"), "8812");
    EXPECT_EQ(cell(2, "开关"), "ON");
}

// The switch answers one ask of a per-row table twice, so the answers after
// it come one behind their asks: 上传 and 校验, of the whole table or of the
// selected rows, say what they met and leave every shadow table as it was.
TEST_F(Upload, AnswersTwiceOrBehindAreToldAndNoShadowTableChanges) {
    ASSERT_TRUE(ModSwitch::CreatePTable("Account"));
    dbSwitch.execute("insert into pAccount select * from Account where address=2050");
    auto shadow = [&] { return dbSwitch.scalar("select group_concat(address||account) from pAccount").toString(); };
    const QString before = shadow();
    const QString told = QStringLiteral("集团电话的回答重复: 询问第%1行收到的是前面一行的回答");
    struct Case {
        const char* name;
        std::function<void()> run;
        QString status;
    };
    const Case cases[] = {
        {"上传", [&] { showView("Account"); ModToolbar::ToolbarUpLoadOrVerify(false); }, "上传帐号失败!" + told.arg(4)},
        {"校验", [&] { verify("Account"); }, "校验帐号失败!" + told.arg(4)},
        {"校验 of rows", [&] {
             select("Account", 1, 5);
             ModToolbar::mnuVerify_Click(3);
         }, "校验失败: " + told.arg(4)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sw.clearRules();
        drain();   // what the case before left on the line is heard out
        // The third ask answered at once and again 100 ms after, the asks
        // after it 100 ms late: the fourth hears the third's copy first.
        sw.setLateReplyMs(100);
        sw.addRule("880408", sim::Reply::Echoed, 1, 2);
        sw.addRule("880408", sim::Reply::Late, -1);
        console->sbrInfo->setPanelText(2, QString());
        c.run();
        EXPECT_EQ(status(), c.status);
        EXPECT_EQ(shadow(), before);
        EXPECT_FALSE(frmVerify::exists());
    }

    // A streamed row that comes twice.
    sw.clearRules();
    drain();
    dbSwitch.execute("insert into PabxFeeRate values('12', 1, 3, 60, 300, 6, 50, 0, 0, 0, 1)");
    down("PabxFeeRate");
    sw.setRow(sim::tables::PabxFeeRate, 1, *sw.row(sim::tables::PabxFeeRate, 0));
    ASSERT_TRUE(ModSwitch::CreatePTable("PabxFeeRate"));
    showView("PabxFeeRate");
    ModToolbar::ToolbarUpLoadOrVerify(false);
    EXPECT_EQ(status(), "上传失败!" + told.arg(2));
    EXPECT_EQ(rows("pPabxFeeRate"), 0);
}
