#include "LinkTestSupport.h"

#include "platform/Prompts.h"

#include <QApplication>
#include <QClipboard>
#include <QMouseEvent>
#include <QScrollBar>
#include <cstring>
#include <new>

using namespace linktest;
using namespace ModComm;

namespace {

class TraceWindowTest : public LinkTest {
protected:
    frmSRV& w() { return frmSRV::instance(); }
    // `text` typed in the order box and sent.
    void send(const QString& text) {
        w().cboLst->setEditText(text);
        w().cmdSend_Click();
    }
    void filter(const QString& text) {
        w().txtFilter->setText(text);
        w().txtFilter_Change();
    }
};

TEST_F(TraceWindowTest, LinesCarryTheStationsTimeOfDayMarkAndSpacedHex) {
    platform::testing::setNow([] { return QDateTime(QDate(2026, 1, 2), QTime(9, 4, 5)); });
    EXPECT_EQ(w().ShowRecord("830300", 1), "83 03 00 ");
    platform::testing::setNow([] { return QDateTime(QDate(2026, 1, 2), QTime(23, 59, 59)); });
    w().ShowRecord("8203", 2);
    EXPECT_EQ(traceLines(), (QStringList{"09:04:05->83 03 00 ", "23:59:59--82 03 "}));
}

TEST_F(TraceWindowTest, FilterSelectsByLeadingCode) {
    filter("82");
    w().ShowRecord("830300", 0);
    w().ShowRecord("820300", 0);
    EXPECT_EQ(traceLines().size(), 1);
    filter("");
    w().ShowRecord("830300", 0);
    EXPECT_EQ(traceLines().size(), 2);
    filter("96");
    EXPECT_EQ(w().txtFilter->text(), "96");
}

TEST_F(TraceWindowTest, SearchWrapsAndAMissClearsTheLock) {
    w().ShowRecord("830300", 0);
    w().ShowRecord("961D00", 0);
    w().ShowRecord("830300", 1);
    w().txtSearch->setText("83 03");
    w().cmdSearch_Click();
    EXPECT_EQ(w().lstRec->currentRow(), 0);   // from no selection the search starts at line 0
    EXPECT_TRUE(w().Check1->isChecked());
    w().cmdSearch_Click();
    EXPECT_EQ(w().lstRec->currentRow(), 2);
    w().cmdSearch_Click();
    EXPECT_EQ(w().lstRec->currentRow(), 0);   // wrapped
    w().txtSearch->setText("A5");
    w().cmdSearch_Click();
    EXPECT_EQ(w().lstRec->currentRow(), -1);
    EXPECT_FALSE(w().Check1->isChecked());
    EXPECT_FALSE(w().locked());
}

TEST_F(TraceWindowTest, SendKeepsHistoryOnceAtTheTop) {
    g_NoAnswerCount = 10;
    send("83 03 00");
    send("960301");
    send("830300");
    EXPECT_EQ(w().cboLst->count(), 2);
    EXPECT_EQ(w().cboLst->itemText(0), "960301");
    EXPECT_EQ(w().cboLst->itemText(1), "830300");
    // Without "计算校验位" the text goes out as typed.
    EXPECT_EQ(takeSentRaw(), "830300960301830300");
    w().chkVerify->setChecked(true);
    w().cmdSend_Click();
    EXPECT_EQ(takeSentRaw(), "83030086");
    // "clear" typed empties the history and sends nothing.
    w().cboLst->setEditText("clear");
    w().cboLst_Enter();
    EXPECT_EQ(w().cboLst->count(), 0);
    EXPECT_TRUE(takeSent().isEmpty());
}

TEST_F(TraceWindowTest, ShortOrdersAreLookedUpByWhatIsTyped) {
    g_NoAnswerCount = 10;
    // Two bytes whose code needs no third byte: a known frame start, sent as typed.
    send("9F03");
    EXPECT_EQ(takeSentRaw(), "9F03");
    w().chkVerify->setChecked(true);
    send("a9 03");
    EXPECT_EQ(takeSentRaw(), "A903AC");
    // A code that needs its third byte is unknown without it: refused with a
    // message under the station's name, the box emptied.
    platform::script::answer("错误的命令", platform::rOK);
    send("8203");
    EXPECT_TRUE(takeSentRaw().isEmpty());
    EXPECT_EQ(w().cboLst->currentText(), "");
    ASSERT_EQ(platform::script::shown().size(), 1);
    EXPECT_EQ(platform::script::shown()[0].title, AppName);
}

TEST_F(TraceWindowTest, InjectedAnnouncementIsAnsweredLikeTheSwitch) {
    w().chkVerify->setChecked(true);
    w().cboLst->setEditText("830300");
    w().cmdReceive_Click();
    ProcessComm();
    const QStringList sent = takeSent();
    ASSERT_FALSE(sent.isEmpty());
    EXPECT_EQ(sent[0], withSum("820300"));
    w().cboLst->setEditText("83Z");
    w().cmdReceive_Click();
    EXPECT_EQ(RxCount(), 0);
}

TEST_F(TraceWindowTest, RefusedRightStopsSendAndReceive) {
    int asked = 0;
    frmSRV::rightCheck() = [&](int right, int mode) {
        EXPECT_EQ(right, 1);
        EXPECT_EQ(mode, 2);
        ++asked;
        return true;
    };
    send("830300");
    w().cmdReceive_Click();
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(takeSent().isEmpty());
    EXPECT_EQ(RxCount(), 0);
}

TEST_F(TraceWindowTest, CopyBackHiddenControlsAndTestMode) {
    w().ShowRecord("830300", 0);
    w().lstRec->setCurrentRow(0);
    w().lstRec_DblClick();
    EXPECT_EQ(w().cboLst->currentText(), "83 03 00 ");
    w().lstBuf->addItem("a");
    w().lstBuf->addItem("b");
    w().cmdCopy_Click();
    EXPECT_EQ(QApplication::clipboard()->text(), " a b");

    EXPECT_FALSE(w().cmdMon->isVisible() || w().cmdMon->isVisibleTo(&w()));
    w().Label1_MouseDown(Qt::LeftButton, Qt::ControlModifier);
    EXPECT_FALSE(w().cmdTest->isVisibleTo(&w()));
    w().Label1_MouseDown(Qt::LeftButton, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(w().cmdTest->isVisibleTo(&w()));
    EXPECT_TRUE(w().cmdMon->isVisibleTo(&w()));
    w().Label1_MouseDown(Qt::RightButton, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(w().txtFilter->isVisibleTo(&w()));

    w().cmdTest_Click();
    EXPECT_NE(g_TestMode, 0);
    EXPECT_EQ(w().cmdTest->text(), "停止");
    w().cmdTest_Click();
    EXPECT_EQ(g_TestMode, 0);
    EXPECT_EQ(w().cmdTest->text(), "测试");
}

TEST_F(TraceWindowTest, DemoTicksMakeOneToThreeFramesOfEachKindInRange) {
    int cardsMin = 9, cardsMax = 0, chansMin = 9, chansMax = 0;
    for (int tick = 0; tick < 300; ++tick) {
        w().DemoTick();
        // Without "计算校验位" the frames go in without a checksum.
        const QByteArray in = drain(RxBuf, RxRead, RxWrite);
        int cards = 0, chans = 0;
        for (int i = 0; i < in.size();) {
            const quint8 code = static_cast<quint8>(in[i]);
            ASSERT_TRUE(code == 0x99 || code == 0x97) << in.toHex().toStdString();
            const int len = code == 0x99 ? 11 : 10;
            ASSERT_EQ(static_cast<quint8>(in[i + 1]), len);
            ASSERT_LE(i + len, in.size());
            if (code == 0x99) {
                ++cards;
                EXPECT_LE(static_cast<quint8>(in[i + 2]), 17);
                for (int k = 3; k < 11; ++k) EXPECT_LE(static_cast<quint8>(in[i + k]), 63);
            } else {
                ++chans;
                EXPECT_LE(static_cast<quint8>(in[i + 2]), 15);
                EXPECT_LE(static_cast<quint8>(in[i + 3]), 63);
                EXPECT_EQ(in.mid(i + 4, 6).toHex(), "001100110011");
            }
            i += len;
        }
        cardsMin = std::min(cardsMin, cards);
        cardsMax = std::max(cardsMax, cards);
        chansMin = std::min(chansMin, chans);
        chansMax = std::max(chansMax, chans);
    }
    EXPECT_EQ(cardsMin, 1);
    EXPECT_EQ(cardsMax, 3);
    EXPECT_EQ(chansMin, 1);
    EXPECT_EQ(chansMax, 3);

    // With it, each frame carries its sum and passes the receive path.
    w().chkVerify->setChecked(true);
    const QVector<StatusFrame> cardsBefore = CardStates, portsBefore = PortStates;
    w().DemoTick();
    for (int i = 0; i < 12; ++i) ProcessComm();
    int cards = 0, ports = 0;
    for (int i = 0; i < CardStates.size(); ++i) cards += CardStates[i].Data != cardsBefore[i].Data ? 1 : 0;
    for (int i = 0; i < PortStates.size(); ++i) ports += PortStates[i].Data != portsBefore[i].Data ? 1 : 0;
    EXPECT_GE(cards, 1);
    EXPECT_GE(ports, 1);
    EXPECT_TRUE(takeSent().isEmpty());
}

TEST_F(TraceWindowTest, EventsOfAMouseTypeThatCarryNoMouseAreNotReadAsMouseEvents) {
    w().show();
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(1, 1), QPointF(1, 1), QPointF(1, 1), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w().fraV, &press);
    const QPoint before = w().fraV->pos();
    // A bare event with a mouse type, in memory that would read as nonsense
    // (every bit set) if it were taken for a mouse event.
    alignas(QMouseEvent) unsigned char raw[sizeof(QMouseEvent)];
    std::memset(raw, 0xFF, sizeof raw);
    for (QEvent::Type type : {QEvent::MouseMove, QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QEvent* bare = new (raw) QEvent(type);
        QObject& filter = w();
        for (QObject* o : {static_cast<QObject*>(w().fraV), static_cast<QObject*>(w().Label1)}) filter.eventFilter(o, bare);
        bare->~QEvent();
    }
    EXPECT_EQ(w().fraV->pos(), before);
    w().hide();
}

// Shown or hidden, the last line is in view unless the list is locked, and
// the list keeps its cap.
TEST_F(TraceWindowTest, LinesAddedShownOrHiddenAreInViewUnlessLockedAndKeepTheCap) {
    TraceList& list = *w().lstRec;
    w().show();
    for (int i = 0; i < 3000; ++i) w().ShowRecord("830300", 0);
    EXPECT_EQ(list.topRow(), list.count() - list.visibleRows());
    w().Check1->setChecked(true);
    int top = list.topRow();
    w().ShowRecord("820300", 0);
    EXPECT_EQ(list.topRow(), top);   // locked: no scrolling
    w().hide();
    for (int i = 0; i < 3000; ++i) w().ShowRecord("830300", 0);
    EXPECT_EQ(list.count(), 1000);   // emptied once above 5000 lines

    w().Check1->setChecked(false);
    w().cmdClear_Click();
    for (int i = 0; i < 300; ++i) w().ShowRecord(i % 2 ? "830300" : "820300", 0);
    w().show();
    ASSERT_EQ(list.count(), 300);
    EXPECT_EQ(list.verticalScrollBar()->maximum(), list.count() - list.visibleRows());
    EXPECT_EQ(list.topRow(), list.count() - list.visibleRows());   // the last line is in view
    EXPECT_EQ(list.verticalScrollBar()->value(), list.topRow());
    // Locked while hidden: the top line stays where it was.
    w().Check1->setChecked(true);
    top = list.topRow();
    w().hide();
    for (int i = 0; i < 50; ++i) w().ShowRecord("830300", 0);
    w().show();
    EXPECT_EQ(list.topRow(), top);
    EXPECT_EQ(list.verticalScrollBar()->maximum(), list.count() - list.visibleRows());
    w().Check1->setChecked(false);
    w().hide();
}

}  // namespace
