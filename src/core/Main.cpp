#include "core/Main.h"

#include "core/MDIMain.h"
#include "core/ModDefine.h"
#include "link/ModComm.h"
#include "platform/AppExit.h"
#include "platform/Application.h"
#include "platform/Db.h"
#include "platform/Files.h"
#include "platform/InstanceLock.h"
#include "platform/Prompts.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <memory>

namespace core {

namespace {
QString g_programDir;

QString ProgramDir() {
    return g_programDir.isEmpty() ? QCoreApplication::applicationDirPath() : g_programDir;
}

// The switch model is a setting of the root data directory's station
// database; a root that cannot be read means the first model.
int RootSwitchModel(const QString& dataDir) {
    try {
        const QString file = platform::resolveCI(dataDir, QStringLiteral("switch.mdb"));
        // While the root site is in use its one connection reads it.
        const bool inUse = dbSwitch.isOpen() && platform::sameFile(dbSwitch.path(), file);
        platform::Database root = inUse ? dbSwitch : platform::Database::open(file);
        const QVariant v = root.scalar(QStringLiteral("select value from variant where varname=?"), {QStringLiteral("SWITCHMODEL")});
        if (!inUse) root.close();
        return v.toString().trimmed().toInt();
    } catch (const platform::DbError&) {
        return 0;
    }
}

SiteChooser g_siteChooser;
}  // namespace

void SetSiteChooser(SiteChooser chooser) { g_siteChooser = std::move(chooser); }

void SetProgramDir(const QString& dir) { g_programDir = QDir(dir).absolutePath(); }

bool GetDataPath(bool bStartup, bool* cancelled) {
    if (cancelled) *cancelled = false;
    SwitchModel = 0;
    AppPath = ProgramDir();
    if (!AppPath.endsWith(QLatin1Char('/'))) AppPath += QLatin1Char('/');
    const QString data = platform::resolveCI(AppPath, QStringLiteral("data"));
    if (!QFileInfo(data).isDir()) return false;
    SwitchModel = RootSwitchModel(data);
    if (bStartup) {
        // The root data directory is the site until one is chosen.
        TerminalName = QStringLiteral("默认");
        TerminalID = 0;
    }
    if (SwitchModel == 2 && g_siteChooser) {
        const QString chosen = g_siteChooser(bStartup, cancelled);
        DataPath = chosen.isEmpty() ? data + QLatin1Char('/') : chosen;
    } else {
        DataPath = data + QLatin1Char('/');
    }
    return true;
}

int Main(int argc, char** argv) {
    // A process that hosts the station (the test runner) may have made its application already.
    std::unique_ptr<QApplication> app;
    if (!QCoreApplication::instance()) app = std::make_unique<platform::Application>(argc, argv);
    QApplication::setApplicationName(QStringLiteral("DE Duzariv"));
    // Standard buttons and dialogs speak Chinese like the rest of the station.
    platform::InstallChineseQtTexts();

    // One station per data directory: a second one on this computer ends
    // without a word; a directory where the lock cannot even be written is
    // named, with the cause, and a lock whose holder cannot be judged from
    // here is named with its holder and file.
    const QString dataDir = platform::resolveCI(ProgramDir(), QStringLiteral("data"));
    QString cannotWrite, holder;
    bool unheld = false;
    if (!platform::AcquireInstanceLock(dataDir, &cannotWrite, &holder, &unheld) &&
        !(unheld &&
          platform::MsgBox(holder + QStringLiteral("。\n目前没有程序持有此锁文件，是否接管它并启动？"),
                           platform::mbYesNo | platform::mbQuestion, QStringLiteral("错误提示")) == platform::rYes &&
          platform::TakeOverInstanceLock(dataDir))) {
        if (unheld) platform::EndProgram(1);
        if (!cannotWrite.isEmpty()) {
            platform::MsgBox(QStringLiteral("无法在数据目录%1中写入文件：%2").arg(QDir::toNativeSeparators(dataDir), cannotWrite),
                             platform::mbOKOnly, QStringLiteral("错误提示"));
            platform::EndProgram(1);
        }
        if (!holder.isEmpty()) {
            platform::MsgBox(holder + QStringLiteral("。\n如果该程序已不在运行(例如数据目录是从另一台电脑复制来的)，请删除此锁文件后重新启动。"),
                             platform::mbOKOnly, QStringLiteral("错误提示"));
            platform::EndProgram(1);
        }
        platform::EndProgram(0);
    }

    ModComm::InitFrameTable();
    MonSlots = QVector<MonSlot>(16);

    if (!GetDataPath(true)) {
        platform::MsgBox(QStringLiteral("找不到数据库目录"), platform::mbOKOnly, QStringLiteral("错误提示"));
        platform::EndProgram(0);
    }

    // The console's start-up opens the site (admin::OpenSite).
    MDIMain::instance().Show();
    return QApplication::exec();
}

}  // namespace core
