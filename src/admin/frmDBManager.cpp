#include "admin/frmDBManager.h"

#include "admin/OpenSite.h"
#include "admin/Restore.h"
#include "admin/frmFindDir.h"
#include "core/books/ChargeLog.h"
#include "core/books/JournalFile.h"
#include "core/Console.h"
#include "core/ModDefine.h"
#include "core/StationFiles.h"
#include "core/Settings.h"
#include "core/OpLog.h"
#include "link/FrameCodes.h"
#include "link/ModComm.h"
#include "params/BoardPanel.h"
#include "platform/Clock.h"
#include "platform/AppExit.h"
#include "platform/DbCopy.h"
#include "platform/Files.h"
#include "platform/Prompts.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <memory>

namespace {

std::unique_ptr<frmDBManager> g_instance;

QString withSlash(const QString& s) { return s.endsWith('/') ? s : s + '/'; }

bool isDir(const QString& s) { return !s.isEmpty() && QFileInfo(s).isDir(); }

// Keeps what the folder box held when the operator entered it.
class FocusWatch : public QObject {
public:
    FocusWatch(QLineEdit* box, QString* remembered) : QObject(box), box_(box), remembered_(remembered) {}
    bool eventFilter(QObject* o, QEvent* e) override {
        if (o == box_ && e->type() == QEvent::FocusIn) {
            *remembered_ = box_->text();
            box_->selectAll();
        }
        return false;
    }

private:
    QLineEdit* box_;
    QString* remembered_;
};

class Disabled {
public:
    explicit Disabled(QWidget* w) : w_(w) { w_->setEnabled(false); }
    ~Disabled() { w_->setEnabled(true); }

private:
    QWidget* w_;
};

// Runs a window event's handler. A database failure it lets out (a full disk,
// a station file another program holds) ends it here rather than in the
// window system: `what` and the cause are shown, or, for the timer that
// nobody watches, written to the operation log when that can be.
template <class F>
void guardedEvent(const QString& what, bool tell, F handler) {
    try {
        handler();
    } catch (const platform::ProgramEnded&) {
        throw;
    } catch (const platform::DbError& e) {
        if (tell) {
            platform::MsgBox(what + platform::OperatorText(e), platform::mbOKOnly, AppName);
            return;
        }
        try {
            ModGeneral::AddOpLog(what);
        } catch (const platform::DbError&) {
        }
    }
}

}  // namespace

frmDBManager& frmDBManager::instance() {
    if (!g_instance) {
        g_instance.reset(new frmDBManager);
        g_instance->Form_Load();
    }
    return *g_instance;
}
bool frmDBManager::exists() { return static_cast<bool>(g_instance); }

void frmDBManager::unload() {
    if (!g_instance) return;
    g_instance->Timer1->stop();
    // Only an empty folder goes: rmdir refuses any other.
    if (!g_instance->stamped_.isEmpty()) QDir().rmdir(g_instance->stamped_);
    g_instance.reset();
}

frmDBManager::frmDBManager(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmDBManager"));
    setWindowTitle(QStringLiteral("数据库管理"));
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setModal(false);
    const char* const modes[] = {"手动备份", "定时备份", "恢复"};
    auto* modeRow = new QHBoxLayout;
    for (int i = 0; i < 3; ++i) {
        auto* b = new QRadioButton(QString::fromUtf8(modes[i]), this);
        b->setObjectName(QStringLiteral("opt%1").arg(i));
        opt << b;
        modeRow->addWidget(b);
        connect(b, &QRadioButton::clicked, this, [this, i] { opt_Click(i); });
    }
    tvwDB = new QTreeWidget(this);
    tvwDB->setHeaderHidden(true);
    auto* root = new QTreeWidgetItem(tvwDB, {QStringLiteral("数据库")});
    root->setData(0, Qt::UserRole, QStringLiteral("DB"));
    for (const auto& [key, caption] : {std::pair{"Switch", "系统设置文件"}, std::pair{"PhoneCur", "话单库文件"}}) {
        auto* n = new QTreeWidgetItem(root, {QString::fromUtf8(caption)});
        n->setData(0, Qt::UserRole, QString::fromLatin1(key));
    }
    for (QTreeWidgetItemIterator it(tvwDB); *it; ++it) (*it)->setCheckState(0, Qt::Unchecked);
    tvwDB->expandAll();
    connect(tvwDB, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* n, int) { tvwDB_NodeCheck(n); });

    txtPath = new QLineEdit(this);
    txtPath->installEventFilter(new FocusWatch(txtPath, &remembered_));
    connect(txtPath, &QLineEdit::editingFinished, this, [this] { txtPath_LostFocus(); });
    cmdSel = new QPushButton(QStringLiteral("..."), this);
    connect(cmdSel, &QPushButton::clicked, this, [this] { cmdSel_Click(); });
    cmd << new QPushButton(QStringLiteral("备份"), this) << new QPushButton(QStringLiteral("恢复"), this);
    connect(cmd[0], &QPushButton::clicked, this, [this] { cmd_Click(0); });
    connect(cmd[1], &QPushButton::clicked, this, [this] { cmd_Click(1); });
    cmdExit = new QPushButton(QStringLiteral("关 闭"), this);
    connect(cmdExit, &QPushButton::clicked, this, [this] { cmdExit_Click(); });

    // The interval box stands inside its caption, where the blanks of
    // "每隔     天备份" are: the caption reads as one sentence around it.
    lblDay = new QLabel(this);
    lblDay->setAccessibleName(QStringLiteral("每隔     天备份"));
    txtDay = new QLineEdit(lblDay);
    txtDay->setMaxLength(3);
    txtDay->setFixedWidth(txtDay->fontMetrics().horizontalAdvance(QStringLiteral("9999")) + 12);
    {
        auto* sentence = new QHBoxLayout(lblDay);
        sentence->setContentsMargins(0, 0, 0, 0);
        sentence->addWidget(new QLabel(QStringLiteral("每隔"), lblDay));
        sentence->addWidget(txtDay);
        sentence->addWidget(new QLabel(QStringLiteral("天备份"), lblDay));
        sentence->addStretch();
    }
    connect(txtDay, &QLineEdit::textEdited, this, [this] { txtDay_KeyUp(); });
    connect(txtDay, &QLineEdit::editingFinished, this, [this] {
        if (txtDay->text().trimmed().isEmpty()) txtDay->setText(QStringLiteral("7"));
    });
    lblTime = new QLabel(QStringLiteral("备份时间"), this);
    DTAuto = new QTimeEdit(this);
    DTAuto->setDisplayFormat(QStringLiteral("HH:mm"));
    lblLastBackupDay = new QLabel(this);
    cmdSet = new QPushButton(QStringLiteral("设置"), this);
    connect(cmdSet, &QPushButton::clicked, this,
            [this] { guardedEvent(QStringLiteral("保存定时备份设置失败:"), true, [this] { cmdSet_Click(); }); });
    Timer1 = new QTimer(this);
    Timer1->setInterval(60000);
    connect(Timer1, &QTimer::timeout, this,
            [this] { guardedEvent(QStringLiteral("定时备份失败"), false, [this] { Timer1_Timer(); }); });

    auto* v = new QVBoxLayout(this);
    v->addLayout(modeRow);
    v->addWidget(tvwDB);
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(new QLabel(QStringLiteral("备份恢复路径"), this));
    pathRow->addWidget(txtPath, 1);
    pathRow->addWidget(cmdSel);
    v->addLayout(pathRow);
    auto* timed = new QGridLayout;
    timed->addWidget(lblDay, 0, 0, 1, 3);
    timed->addWidget(lblTime, 1, 0);
    timed->addWidget(DTAuto, 1, 1);
    timed->addWidget(cmdSet, 1, 2);
    timed->addWidget(lblLastBackupDay, 2, 0, 1, 3);
    v->addLayout(timed);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmd[0]);
    buttons->addWidget(cmd[1]);
    buttons->addWidget(cmdExit);
    v->addLayout(buttons);
    resize(420, 380);
}

QString frmDBManager::defaultFolder() const { return withSlash(DataPath) + QStringLiteral("Backup/"); }

void frmDBManager::Form_Load() {
    const QString day = ModSwitch::GetVariant(QStringLiteral("IntervalDay"), QStringLiteral("7")).trimmed();
    bool ok = false;
    const int n = day.toInt(&ok);
    txtDay->setText(ok && n >= 0 && n <= 999 ? day : QStringLiteral("7"));
    QTime at = QTime::fromString(ModSwitch::GetVariant(QStringLiteral("BackupTime"), QStringLiteral("12:00")).trimmed(),
                                 QStringLiteral("H:mm"));
    DTAuto->setTime(at.isValid() ? at : QTime(12, 0));
    lastBackup_ = QDate::fromString(ModSwitch::GetVariant(QStringLiteral("LastBackupDay"), QString()).trimmed().left(10),
                                    QStringLiteral("yyyy-MM-dd"));
    if (!lastBackup_.isValid()) lastBackup_ = platform::Now().date();

    QDir().mkpath(defaultFolder());
    auto folder = [this](const char* key) {
        const QString f = ModSwitch::GetVariant(QString::fromLatin1(key), QString()).trimmed();
        return isDir(f) ? withSlash(f) : defaultFolder();
    };
    backupPath_ = folder("BackupPath");
    restorePath_ = folder("RestorePath");
    autoPath_ = folder("AutoPath");

    int mode = ModSwitch::GetVariant(QStringLiteral("ChkAutoBackup"), QStringLiteral("0")).trimmed().toInt();
    if (mode < 0 || mode > 2) mode = 0;
    opt[mode]->setChecked(true);
    opt_Click(mode);
    lblLastBackupDay->setText(QStringLiteral("上次备份时间：") + lastBackup_.toString(QStringLiteral("yyyy-MM-dd")));
    if (mode == 0) {
        stamped_ = current_ + platform::Now().toString(QStringLiteral("yyyyMMddHHmm")) + '/';
        txtPath->setText(stamped_);
    }
    if (!isDir(txtPath->text())) QDir().mkpath(txtPath->text());
    tvwDB->topLevelItem(0)->setCheckState(0, Qt::Checked);
}

void frmDBManager::Form_Activate() {
    QDir().mkpath(defaultFolder());
    for (QString* f : {&backupPath_, &restorePath_, &autoPath_})
        if (!isDir(*f)) *f = defaultFolder();
    if (!isDir(txtPath->text())) txtPath->setText(defaultFolder());
}

void frmDBManager::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    Form_Activate();
}

void frmDBManager::closeEvent(QCloseEvent* e) {
    // The title bar's close hides the window as "关 闭" does; it stays loaded for its timer.
    e->ignore();
    cmdExit_Click();
}

void frmDBManager::SetMode(bool timed) {
    for (QWidget* w : {static_cast<QWidget*>(lblDay), static_cast<QWidget*>(lblTime), static_cast<QWidget*>(txtDay),
                       static_cast<QWidget*>(cmdSet)})
        w->setEnabled(timed);
    DTAuto->setVisible(timed);
    if (timed) Timer1->start();
    else Timer1->stop();
    cmd[0]->setEnabled(!timed);
    cmd[1]->setEnabled(!timed);
}

void frmDBManager::opt_Click(int index) {
    if (!opt[index]->isChecked()) opt[index]->setChecked(true);
    SetMode(index == 1);
    if (index == 0) {
        cmd[1]->setEnabled(false);
        txtPath->setText(backupPath_);
    } else if (index == 2) {
        cmd[0]->setEnabled(false);
        txtPath->setText(restorePath_);
    } else {
        txtPath->setText(autoPath_);
    }
    current_ = txtPath->text();
}

void frmDBManager::tvwDB_NodeCheck(QTreeWidgetItem* node) {
    const Qt::CheckState s = node->checkState(0);
    for (int i = 0; i < node->childCount(); ++i)
        if (node->child(i)->checkState(0) != s) node->child(i)->setCheckState(0, s);
}

void frmDBManager::setModeFolder(const QString& folder) {
    current_ = folder;
    if (cmd[0]->isEnabled()) backupPath_ = folder;
    else if (cmd[1]->isEnabled()) restorePath_ = folder;
    else autoPath_ = folder;
}

void frmDBManager::cmdSel_Click() {
    const QString before = txtPath->text();
    const QString chosen = frmFindDir::instance().SelectPath(before);
    if (chosen.isEmpty()) return;
    txtPath->setText(chosen);
    if (chosen != before) setModeFolder(chosen);
}

void frmDBManager::txtPath_LostFocus() {
    QString text = txtPath->text().trimmed();
    if (!text.startsWith('/')) {
        txtPath->setText(current_);
        return;
    }
    if (!isDir(text) && !admin::MakeFolderLevels(text)) return;
    text = withSlash(text);
    txtPath->setText(text);
    if (text != remembered_) {
        setModeFolder(text);
        remembered_ = text;
    }
}

QList<QTreeWidgetItem*> frmDBManager::checkedFiles() const {
    QList<QTreeWidgetItem*> out;
    QTreeWidgetItem* root = tvwDB->topLevelItem(0);
    for (int i = 0; i < root->childCount(); ++i)
        if (root->child(i)->checkState(0) == Qt::Checked) out << root->child(i);
    return out;
}

namespace {
// The journal keeps every entry past the mark of the station file just
// backed up, however old, so that putting this backup back replays them all.
// A copy that cannot be read is no backup a restore takes: nothing is noted.
void noteBackupMark(const QString& copy) {
    try {
        ModSwitch::NoteBackupMark(QStringLiteral("Switch.mdb"), ModSwitch::AppliedMark(platform::Database::openReadOnly(copy)));
    } catch (const platform::DbError&) {
    }
}
}  // namespace

// Copies the checked files into `folder`, each a consistent copy taken while the
// station keeps storing records. False when a copy failed (its file and the
// cause in `failed`) or the operator declined an overwrite (`failed` empty).
bool frmDBManager::backupInto(const QString& folder, bool ask, QString* failed) {
    const QString data = withSlash(DataPath);
    QList<QPair<QString, QString>> pairs;
    for (QTreeWidgetItem* n : checkedFiles()) {
        const QString key = n->data(0, Qt::UserRole).toString();
        if (key == QLatin1String("PhoneCur")) {
            for (const QString& f : QDir(data).entryList({QStringLiteral("phbill_*.mdb")}, QDir::Files, QDir::Name))
                pairs.append({data + f, folder + f});
        } else {
            pairs.append({platform::resolveCI(data, key + QStringLiteral(".mdb")), folder + key + QStringLiteral(".mdb")});
        }
    }
    // A backup never replaces a file the station works on: not into the data
    // directory, nor onto a file that is the one copied (another name for it).
    const QString here = QFileInfo(data).canonicalFilePath();
    bool onItself = !here.isEmpty() && QFileInfo(folder).canonicalFilePath() == here;
    for (auto& [source, target] : pairs) {
        target = platform::resolveCI(folder, QFileInfo(target).fileName());
        onItself = onItself || platform::sameFile(source, target);
    }
    if (onItself) {
        const QString text = QStringLiteral("备份路径不能是数据目录（%1），请另选备份路径。").arg(QDir::toNativeSeparators(data));
        if (ask) platform::MsgBox(text, platform::mbOKOnly | platform::mbExclamation, AppName);
        else *failed = text;
        return false;
    }
    // Every overwrite is asked before anything is written: declined, the folder keeps its set.
    for (const auto& [source, target] : pairs) {
        if (ask && QFileInfo::exists(target) &&
            platform::MsgBox(target + QStringLiteral("文件已经存在，要覆盖掉吗？"), platform::mbYesNo | platform::mbExclamation,
                             AppName) != platform::rYes)
            return false;
        if (QFileInfo::exists(target) && !QFileInfo(target).isFile()) {
            *failed = QFileInfo(target).fileName() + QStringLiteral("失败：备份路径中有同名的文件夹");
            return false;
        }
    }
    // The set is written beside the one the folder holds and swapped in only
    // once every file is in: a copy that gives up (a file held by another
    // program, a full disk) leaves the folder's set as it was, whole.
    const auto asideOf = [](const QString& target) {
        return QFileInfo(target).absolutePath() + QStringLiteral("/.") + QFileInfo(target).fileName() + QStringLiteral(".backing");
    };
    QStringList made;
    const auto dropMade = [&] {
        for (const QString& f : std::as_const(made)) QFile::remove(f);
        platform::syncDir(folder);
    };
    for (const auto& [source, target] : pairs) {
        const QString tmp = asideOf(target);
        QFile::remove(tmp);
        QString error;
        if (!platform::CopyDatabaseStepwise(source, tmp, dbSwitch, &error)) {
            // The file, and why: a full disk or a folder that cannot be written is said as such.
            *failed = QFileInfo(target).fileName() + QStringLiteral("失败：") + error;
            made << tmp;
            dropMade();
            return false;
        }
        made << tmp;
    }
    QStringList swapped;
    for (const auto& [source, target] : pairs) {
        QString error;
        if (!platform::renameFile(asideOf(target), target, &error)) {
            // Rare (the folder changed under the swap): what the folder now
            // holds is said file by file, never left for the operator to guess.
            QStringList older;
            for (const auto& [s2, t2] : pairs)
                if (!swapped.contains(QFileInfo(t2).fileName()) && QFileInfo::exists(t2)) older << QFileInfo(t2).fileName();
            *failed = QFileInfo(target).fileName() + QStringLiteral("失败：") + error;
            if (!swapped.isEmpty())
                *failed += QStringLiteral("。备份目录中现在是两次备份的文件：%1是这次的备份%2")
                               .arg(swapped.join(QStringLiteral("、")),
                                    older.isEmpty() ? QString()
                                                    : QStringLiteral("，%1是以前的备份").arg(older.join(QStringLiteral("、"))));
            dropMade();
            return false;
        }
        swapped << QFileInfo(target).fileName();
    }
    platform::syncDir(folder);
    for (const auto& [source, target] : pairs)
        if (QFileInfo(source).fileName().compare(QStringLiteral("Switch.mdb"), Qt::CaseInsensitive) == 0) noteBackupMark(target);
    return true;
}

void frmDBManager::cmd_Click(int index) {
    if (busy_) return;
    if (ModGeneral::CheckRight(19, 2)) return;
    busy_ = true;
    Disabled off(this);
    try {
        if (index == 1) {
            restore();
        } else {
            const QString folder = withSlash(txtPath->text().trimmed());
            if (!isDir(folder)) {
                platform::MsgBox(txtPath->text() + QStringLiteral("目录不存在"), platform::mbOKOnly, AppName);
            } else if (!checkedFiles().isEmpty()) {
                QString failed;
                if (backupInto(folder, true, &failed)) {
                    ModGeneral::AddOpLog(QStringLiteral("手动备份"));
                    platform::MsgBox(QStringLiteral("备份完成"), platform::mbOKOnly, AppName);
                } else if (!failed.isEmpty()) {
                    platform::MsgBox(QStringLiteral("备份") + failed, platform::mbOKOnly, AppName);
                }
            }
        }
    } catch (const platform::ProgramEnded&) {
        busy_ = false;
        throw;
    } catch (const std::exception& e) {
        // Whatever stopped it, the operator hears how it ended: a restore
        // says what it put in itself, before anything after it can throw.
        platform::MsgBox((index == 1 ? QStringLiteral("恢复失败:") : QStringLiteral("备份失败:")) + platform::OperatorText(e),
                         platform::mbOKOnly, AppName);
    }
    busy_ = false;
}

namespace {
// Why a backup's file is not taken, as the operator reads it.
QString sourceFault(const QString& why) {
    if (why == QLatin1String("quick_check")) return QStringLiteral("备份文件未通过检查");
    // The station's tables CheckRestoreSource looks for.
    if (QStringList{QStringLiteral("variant"), QStringLiteral("moncard"), QStringLiteral("user"), QStringLiteral("worker")}.contains(why))
        return QStringLiteral("备份文件中没有%1表").arg(why);
    return why;
}
}  // namespace

void frmDBManager::restore() {
    const QString folder = withSlash(txtPath->text().trimmed());
    if (!isDir(folder)) {
        platform::MsgBox(txtPath->text() + QStringLiteral("目录不存在"), platform::mbOKOnly, AppName);
        return;
    }
    bool withSwitch = false, withArchives = false;
    for (QTreeWidgetItem* n : checkedFiles()) {
        if (n->data(0, Qt::UserRole).toString() == QLatin1String("Switch")) withSwitch = true;
        else withArchives = true;
    }
    const QList<admin::RestorePair> pairs = admin::RestorePairs(folder, DataPath, withSwitch, withArchives);
    if (pairs.isEmpty()) {
        // Nothing is closed or replaced for a folder that holds nothing to restore.
        QStringList sought;
        if (withSwitch) sought << QStringLiteral("Switch.mdb");
        if (withArchives) sought << QStringLiteral("PhBill_年份.mdb");
        platform::MsgBox(sought.isEmpty() ? QStringLiteral("请先选择要恢复的数据库文件。")
                                          : QStringLiteral("%1中没有可恢复的文件（%2），未恢复任何数据。")
                                                .arg(QDir::toNativeSeparators(folder), sought.join(QStringLiteral("、"))),
                         platform::mbOKOnly | platform::mbExclamation, AppName);
        return;
    }
    // Every source is examined before anything is closed, all at once and with
    // the station working meanwhile: a damaged one stops the restore here.
    const QStringList why = admin::CheckRestoreSources(pairs, [] { platform::YieldEvents(); });
    for (int i = 0; i < pairs.size(); ++i) {
        if (!why[i].isEmpty()) {
            platform::MsgBox(QStringLiteral("恢复失败:%1（%2）").arg(QFileInfo(pairs[i].source).fileName(), sourceFault(why[i])),
                             platform::mbOKOnly, AppName);
            return;
        }
    }
    // The switch's reports pause, and what the line brought before is handled
    // and answered in the files it came for, before the reload empties the rings.
    ModComm::SendOrder(FrameCode::kPauseReports, false, 4, true);
    ModComm::DrainLink();
    // From closing to reopening nothing yields, so no tick or frame can reach the closed databases.
    QString failed;
    QStringList putIn;
    bool replaced = true;
    QString stationTarget;
    for (const admin::RestorePair& p : pairs)
        if (QFileInfo(p.target).fileName().compare(QStringLiteral("Switch.mdb"), Qt::CaseInsensitive) == 0) stationTarget = p.target;
    try {
        ModSwitch::OpenAllDB(false);
        // The calls logged since the backup are charged to its balances, once,
        // before the file goes in; the box tells what could not be recovered.
        replaced = admin::ReplaceFiles(pairs, &failed, &putIn);
    } catch (const std::exception& e) {
        replaced = false;
        if (failed.isEmpty()) failed = platform::OperatorText(e);
    }
    // A restore decided (its journal stays) that stopped at a later file (a
    // year file's patch refused) has put in what came before: the station
    // file may be the backup's already. The next opening puts the rest in.
    const bool decided = !replaced && QFileInfo::exists(QDir(DataPath).filePath(admin::RestoreJournalName()));
    const bool stationIn = !stationTarget.isEmpty() && (replaced || putIn.contains(QFileInfo(stationTarget).fileName()));
    // Opened as every site is: a backup made by an older station is brought
    // up to date as at start-up, and the safety copy of the station file put
    // back is taken afresh from it, so the next start finds the two alike
    // instead of putting the replaced file back. ReplaceFiles finished its
    // own journal and checked the files it put in.
    // The station file in, its safety copy is taken afresh before the
    // station goes on, whether or not the rest is in yet: the copy beside
    // it was removed as the file went in.
    admin::SiteOpening how;
    how.finishRestore = false;
    how.check = false;
    how.renewSafetyCopy = stationIn;
    how.priceWaiting = false;
    how.tellRestore = false;
    QString after;
    try {
        admin::OpenSite(how);
        ModComm::SendOrder(FrameCode::kResumeReports, false, 4, true);
        ModSwitch::LoadCards();
        if (core::Console* c = core::TheConsole()) c->ShowView(CurTable);
    } catch (const platform::ProgramEnded&) {
        throw;
    } catch (const std::exception& e) {
        after = QStringLiteral("；重新打开数据库时出错：") + platform::OperatorText(e);
    }
    if (replaced) {
        try {
            ModGeneral::AddOpLog(QStringLiteral("恢复数据"));
        } catch (const platform::DbError&) {
        }
        admin::TellRestore(DataPath, true);
        if (!after.isEmpty()) platform::MsgBox(QStringLiteral("数据已恢复") + after, platform::mbOKOnly, AppName);
    } else if (decided) {
        platform::MsgBox(QStringLiteral("数据恢复未完成:%1%2未能恢复，下次启动时将再次恢复%3。")
                             .arg(stationIn ? QFileInfo(stationTarget).fileName() + QStringLiteral("已恢复，") : QString(), failed, after),
                         platform::mbOKOnly, AppName);
    } else {
        platform::MsgBox(QStringLiteral("恢复失败:") + failed + after, platform::mbOKOnly, AppName);
    }
}

void frmDBManager::cmdExit_Click() {
    try {
        ModSwitch::SetVariant(QStringLiteral("BackupPath"), backupPath_);
        ModSwitch::SetVariant(QStringLiteral("RestorePath"), restorePath_);
        ModSwitch::SetVariant(QStringLiteral("ChkAutoBackup"), opt[1]->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
        ModGeneral::AddOpLog(QStringLiteral("退出数据库管理") +
                             (opt[1]->isChecked() ? QStringLiteral("定时于") + DTAuto->time().toString(QStringLiteral("HH:mm"))
                                                  : QStringLiteral("没有定时备份")));
    } catch (const platform::DbError&) {
    }
    hide();
    if (core::Console* c = core::TheConsole()) {
        QWidget* w = c->ConsoleWidget()->window();
        w->show();
        w->activateWindow();
    }
}

void frmDBManager::cmdSet_Click() {
    if (ModGeneral::CheckRight(19, 2)) return;
    // All of the timed backup's settings are stored, or none; the window
    // counts from the new day only once it is stored.
    const QDate today = platform::Now().date();
    ModSwitch::SetVariants({{QStringLiteral("AutoPath"), autoPath_},
                            {QStringLiteral("ChkAutoBackup"), opt[0]->isChecked() ? QStringLiteral("0") : QStringLiteral("1")},
                            {QStringLiteral("IntervalDay"), txtDay->text()},
                            {QStringLiteral("BackupTime"), DTAuto->time().toString(QStringLiteral("HH:mm"))},
                            {QStringLiteral("LastBackupDay"), today.toString(QStringLiteral("yyyy-MM-dd"))}});
    lastBackup_ = today;
    lblLastBackupDay->setText(QStringLiteral("上次备份时间：") + lastBackup_.toString(QStringLiteral("yyyy-MM-dd")));
}

void frmDBManager::txtDay_KeyUp() {
    const QString t = txtDay->text().trimmed();
    if (t.isEmpty()) return;   // filled with "7" when the box is left
    bool ok = false;
    const int n = t.toInt(&ok);
    if (!ok || n < 0 || n > 999) txtDay->setText(QStringLiteral("7"));
}

void frmDBManager::Timer1_Timer() {
    if (!opt[1]->isChecked() || busy_) return;
    if (!isDir(autoPath_)) {
        autoPath_ = defaultFolder();
        QDir().mkpath(autoPath_);
        txtPath->setText(autoPath_);
    }
    const QDateTime now = platform::Now();
    if (now.toString(QStringLiteral("HH:mm")) != DTAuto->time().toString(QStringLiteral("HH:mm"))) return;
    const int every = txtDay->text().trimmed().isEmpty() ? 7 : txtDay->text().trimmed().toInt();
    if (every != 0 && lastBackup_.daysTo(now.date()) % every != 0) return;
    tvwDB->topLevelItem(0)->setCheckState(0, Qt::Checked);
    const QString target = autoPath_ + now.toString(QStringLiteral("yyyyMMddHHmm")) + '/';
    if (target == madeInto_) return;
    busy_ = true;
    bool made = false;
    QString failed;
    try {
        made = QDir().mkpath(target) && backupInto(target, false, &failed);
    } catch (const platform::ProgramEnded&) {
        busy_ = false;
        throw;
    } catch (...) {
    }
    busy_ = false;
    if (!made) {
        // The day stays the last one a backup was made, so the next tick tries again.
        // The log says which file and why, for whoever reads it the next morning.
        ModGeneral::AddOpLog(failed.isEmpty() ? QStringLiteral("定时备份失败") : QStringLiteral("定时备份失败：") + failed);
        return;
    }
    // The set is in: made, whatever the day's store says, and not made again.
    madeInto_ = target;
    lastBackup_ = now.date();
    lblLastBackupDay->setText(QStringLiteral("上次备份日期：") + lastBackup_.toString(QStringLiteral("yyyy-MM-dd")));
    try {
        ModSwitch::SetVariant(QStringLiteral("LastBackupDay"), now.date().toString(QStringLiteral("yyyy-MM-dd")));
    } catch (const platform::DbError& e) {
        try {
            ModGeneral::AddOpLog(QStringLiteral("定时备份完成，备份日期未能保存：") + platform::OperatorText(e));
        } catch (const platform::DbError&) {
        }
    }
}
