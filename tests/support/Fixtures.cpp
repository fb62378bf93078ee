#include "support/Fixtures.h"
#include "admin/frmDBManager.h"
#include "admin/frmFindDir.h"

#include "billing/BillingSeams.h"
#include "billing/Payments.h"
#include "billing/frmBalanceBill.h"
#include "billing/frmDetial.h"
#include "billing/frmPayMoneny.h"
#include "billing/frmPayed.h"
#include "billing/frmPayfor.h"
#include "billing/frmQueryBill.h"
#include "billing/frmRecord.h"
#include "console/frmPABX.h"
#include "core/Schema.h"
#include "core/frmChange.h"
#include "core/frmWorker.h"
#include "link/Transport.h"
#include "printing/frmGridPrn.h"
#include "platform/AppExit.h"
#include "platform/Clock.h"
#include "platform/Prompts.h"

#include <QDir>
#include <QFile>

namespace testsupport {

StationDir::StationDir(int model, bool withData) {
    if (withData) {
        QString error;
        if (!core::schema::WriteFreshDataDir(dataPath(), model, &error))
            ADD_FAILURE() << "fresh data directory: " << error.toStdString();
    }
}

QString StationDir::appPath() const { return root_.path() + "/"; }
QString StationDir::dataPath() const { return appPath() + "data/"; }

void StationTest::SetUp() {
    ModDefine::ResetGlobals();
    ModComm::ChooseTransport(false);
    platform::testing::resetClock();
    platform::testing::recordPcClock();
    platform::testing::throwOnEnd();
    platform::script::reset();
    platform::script::enable();
    dir = std::make_unique<StationDir>(model);
    ModDefine::AppPath = dir->appPath();
    ModDefine::DataPath = dir->dataPath();
    ModDefine::MonSlots.resize(16);
}

void StationTest::TearDown() {
    // Windows a test brought up are closed before the globals they show go.
    frmChange::unload();
    frmPayMoneny::unload();
    frmPayed::unload();
    frmDetial::unload();
    frmPayfor::unload();
    frmRecord::unload();
    frmQueryBill::unload();
    frmBalanceBill::unload();
    billing::testing::setSeams({});
    billing::setUserDownload(nullptr);
    frmGridPrn::unload();
    frmPABX::unload();
    frmDBManager::unload();
    frmFindDir::unload();
    for (const auto& s : platform::script::unexpected())
        ADD_FAILURE() << "unexpected prompt: " << s.text.toStdString() << " (" << s.title.toStdString() << ")";
    ModDefine::ResetGlobals();
    ModComm::ChooseTransport(false);
    platform::script::reset();
    platform::testing::resetClock();
    platform::testing::clearEndHandler();
    dir.reset();
}

void StationTest::openDatabases() {
    ModDefine::dbSwitch = platform::Database::open(dir->file("switch.mdb"));
    ModDefine::dbPhoneCur = ModDefine::dbSwitch.attach(dir->file("PhoneCur.mdb"), QStringLiteral("phonecur"));
}

void addOrphanPage(const QString& path) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    QByteArray head = f.read(100);
    ASSERT_EQ(head.size(), 100);
    int pageSize = (quint8(head[16]) << 8) | quint8(head[17]);
    if (pageSize == 1) pageSize = 65536;
    const quint32 pages = quint32(f.size() / pageSize) + 1;
    ASSERT_TRUE(f.resize(qint64(pages) * pageSize));
    // The page count in the header, trusted while its change counter agrees.
    const char count[4] = {char(pages >> 24), char(pages >> 16), char(pages >> 8), char(pages)};
    ASSERT_TRUE(f.seek(28));
    ASSERT_EQ(f.write(count, 4), 4);
    ASSERT_TRUE(f.seek(92));
    ASSERT_EQ(f.write(head.mid(24, 4)), 4);
}

void expectNoYieldInTransaction(const QStringList& runLog) {
    for (const QString& line : runLog)
        if (line.startsWith(QLatin1String("YIELDS_IN_TRANSACTION\t")))
            ADD_FAILURE() << "the station process: yieldsInTransaction() = " << line.section(QLatin1Char('\t'), 1).toStdString()
                          << ": a wait yielded while a database transaction was open";
}

void scriptLogin(const QString& id, const QString& pwd) {
    platform::script::onModal(QStringLiteral("frmWorker"), [id, pwd](QDialog* d) {
        auto* w = static_cast<frmWorker*>(d);
        w->txtUser->setText(id);
        w->txtPWD->setText(pwd);
        w->cmdLogin->click();
        if (w->isVisible()) w->cmdExitProgram->click();
    });
}

}  // namespace testsupport
