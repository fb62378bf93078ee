// What the database says on the upload and verify roads reaches the operator
// in Chinese, and heads the switch holds as one are named, not a failure.
#include "transfer/TransferFixture.h"

#include "params/ShowTable.h"
#include "params/TableViews.h"
#include "platform/Prompts.h"
#include "transfer/ModToolbar.h"
#include "transfer/Upload.h"
#include "transfer/frmVerify.h"

#include <QRegularExpression>

using namespace transfertest;

namespace {

class UploadHeads : public TransferTest {
protected:
    void TearDown() override {
        frmVerify::unload();
        TransferTest::TearDown();
    }
    void show(const QString& key, const QString& sql) {
        CurTable = key;
        ParaMode.clear();
        g_Modified = false;
        ModGeneral::ShowTable(*console->fgDisp, sql, QStringLiteral(">字头|<类别|>号长|>延时|>路由1|>路由2"), 0, 1, true);
        console->sbrInfo->setPanelText(2, QString());
    }
    int rows(const char* sql) { return dbSwitch.scalar(QString::fromLatin1(sql)).toInt(); }
};

}  // namespace

TEST_F(UploadHeads, HeadsTheSwitchHoldsAsOneAreNamedAndTheUploadKept) {
    dbSwitch.execute("insert into LanHead values('123456789', 20, 3, 0, 1, 2, 1)");
    dbSwitch.execute("insert into LanHead values('12345678', 21, 3, 0, 1, 2, 1)");
    CurTable = QStringLiteral("LanHead");
    ModToolbar::DownTable(1);
    ASSERT_EQ(status(), "下载成功");

    show(QStringLiteral("LanHead"), QStringLiteral("Select * From LanHead order by headtype,headid,length(headid)"));
    platform::script::answer(QStringLiteral("在集团电话中都是 12345678"), platform::rOK);
    ModToolbar::ToolbarUpLoadOrVerify(false);
    EXPECT_EQ(status(), "上传本机字头成功!");
    EXPECT_EQ(platform::script::pendingAnswers(), 0);
    const QString told = platform::script::shown().value(0).text;
    EXPECT_TRUE(told.contains(QStringLiteral("本机字头 12345678、123456789 在"))) << told.toStdString();
    EXPECT_EQ(ParaMode, "UpSend");
    EXPECT_EQ(rows("select count(*) from pLanHead where HeadID='12345678'"), 1);
    EXPECT_EQ(rows("select count(*) from pLanHead"), rows("select count(*) from LanHead") - 1);
}

TEST_F(UploadHeads, ADatabaseErrorOnTheVerifyRoadIsToldInChinese) {
    CurTable = QStringLiteral("Relay");
    ModToolbar::DownTable(1);
    ASSERT_EQ(status(), "下载成功");
    CurTable = QStringLiteral("Relay");
    ModSwitch::ShowRelayGrid(*console->fgDisp, QStringLiteral("Relay"), true);
    // A row elsewhere refers to the switch's copy of trunk 1: the copy cannot be dropped.
    dbSwitch.execute("create table holder(a integer references pRelay(Address))");
    dbSwitch.execute("insert into holder values(1)");
    dbSwitch.execute("PRAGMA foreign_keys=ON");
    console->sbrInfo->setPanelText(2, QString());
    ModToolbar::ToolbarUpLoadOrVerify(true);
    dbSwitch.execute("PRAGMA foreign_keys=OFF");
    EXPECT_TRUE(status().startsWith(QStringLiteral("校验错误:"))) << status().toStdString();
    EXPECT_FALSE(status().contains(QRegularExpression(QStringLiteral("[A-Za-z]")))) << status().toStdString();
}
