#include "core/frmWorker.h"

#include "core/Console.h"
#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "core/RowLists.h"
#include "core/OpLog.h"
#include "core/Password.h"
#include "core/frmChange.h"
#include "params/OptionLists.h"
#include "platform/AppExit.h"
#include "platform/Db.h"
#include "platform/Prompts.h"

#include <QCloseEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSet>
#include <QVBoxLayout>
#include <memory>

using platform::MsgBox;
using platform::mbOKOnly;

namespace {
std::unique_ptr<frmWorker> g_instance;

// Text boxes select their whole text when they get the focus.
class SelectOnFocus : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::FocusIn)
            if (auto* le = qobject_cast<QLineEdit*>(o)) ModGeneral::SelectAllText(le);
        return false;
    }
};

void say(const QString& text, QWidget* focus = nullptr) {
    MsgBox(text, mbOKOnly, AppName);
    if (focus) focus->setFocus();
}

// A right number as written in a right list: decimal digits only.
bool rightNumber(const QString& s, qint64* n) {
    if (s.isEmpty()) return false;
    for (const QChar c : s)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
    bool ok = false;
    *n = s.toLongLong(&ok);
    return ok;
}

bool isFourDigitsOrFewer(const QString& s) {
    qint64 n = 0;
    return rightNumber(s, &n) && n <= 9999;
}

// Runs a step that reads or writes the database. What the database throws
// (another program holding the file, a full disk) is told in the window's
// words; the step leaves what was typed, and the window stays open.
template <typename Step>
bool told(const QString& failed, QWidget* focus, Step&& step) {
    try {
        step();
        return true;
    } catch (const platform::ProgramEnded&) {
        throw;
    } catch (const std::exception& e) {
        say(failed + platform::OperatorText(e), focus);
        return false;
    }
}

bool workerExists(const QString& id) {
    platform::Recordset rs = dbSwitch.query(QStringLiteral("Select * From Worker where WorkerID=?"), {id});
    return ModSwitch::GetRecordCount(rs) > 0;
}
}  // namespace

bool frmWorker::s_LoginFlag = false;

frmWorker& frmWorker::instance() {
    if (!g_instance) g_instance.reset(new frmWorker);
    return *g_instance;
}
bool frmWorker::exists() { return static_cast<bool>(g_instance); }
void frmWorker::unload() { g_instance.reset(); }

frmWorker::frmWorker(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmWorker"));
    setWindowFlag(Qt::WindowStaysOnTopHint);
    auto* filter = new SelectOnFocus(this);
    auto lineEdit = [this, filter](const QString& name, int maxLen, bool password) {
        auto* e = new QLineEdit(this);
        e->setObjectName(name);
        e->setMaxLength(maxLen);
        if (password) e->setEchoMode(QLineEdit::Password);
        e->installEventFilter(filter);
        return e;
    };
    auto button = [this](const QString& caption) {
        auto* b = new QPushButton(caption, this);
        b->setAutoDefault(false);
        return b;
    };
    auto combo = [this](QComboBox* c, const QString& name) {
        c->setObjectName(name);
        c->setEditable(true);
        c->setInsertPolicy(QComboBox::NoInsert);
        return c;
    };
    auto* layout = new QVBoxLayout(this);

    fraLogin = new QFrame(this);
    {
        auto* f = new QFormLayout(fraLogin);
        txtUser = lineEdit(QStringLiteral("txtUser"), 4, false);
        txtPWD = lineEdit(QStringLiteral("txtPWD"), 20, true);
        f->addRow(QStringLiteral("员工编号"), txtUser);
        f->addRow(QStringLiteral("登录密码"), txtPWD);
        cmdLogin = button(QStringLiteral("登 录"));
        cmdExitProgram = button(QStringLiteral("退 出"));
        auto* row = new QHBoxLayout;
        row->addWidget(cmdLogin);
        row->addWidget(cmdExitProgram);
        f->addRow(row);
    }
    fraWorkerAddDelete = new QFrame(this);
    {
        auto* f = new QFormLayout(fraWorkerAddDelete);
        cboWorkerID = combo(new QComboBox(this), QStringLiteral("cboWorkerID"));
        cboWorkGrade = combo(new QComboBox(this), QStringLiteral("cboWorkGrade"));
        txtWorkerName = lineEdit(QStringLiteral("txtWorkerName"), 20, false);
        cboRight = new DropDownCombo(this);
        combo(cboRight, QStringLiteral("cboRight"));
        cboRight->lineEdit()->setMaxLength(255);
        f->addRow(QStringLiteral("员工编号"), cboWorkerID);
        f->addRow(QStringLiteral("系统级别"), cboWorkGrade);
        f->addRow(QStringLiteral("员工姓名"), txtWorkerName);
        f->addRow(QStringLiteral("员工权限"), cboRight);
        cmdOK = button(QString());
        f->addRow(cmdOK);
    }
    fraChangePassword = new QFrame(this);
    {
        auto* f = new QFormLayout(fraChangePassword);
        txtOld = lineEdit(QStringLiteral("txtOld"), 20, true);
        txtNew = lineEdit(QStringLiteral("txtNew"), 20, true);
        txtConfirm = lineEdit(QStringLiteral("txtConfirm"), 20, true);
        f->addRow(QStringLiteral("旧 密 码"), txtOld);
        f->addRow(QStringLiteral("新 密 码"), txtNew);
        f->addRow(QStringLiteral("确认密码"), txtConfirm);
        cmdModify = button(QStringLiteral("修 改"));
        f->addRow(cmdModify);
    }
    cmdExit = button(QStringLiteral("关 闭"));
    layout->addWidget(fraLogin);
    layout->addWidget(fraWorkerAddDelete);
    layout->addWidget(fraChangePassword);
    layout->addWidget(cmdExit);
    fraLogin->hide();
    fraWorkerAddDelete->hide();
    fraChangePassword->hide();

    // Load: the worker numbers and the grade names.
    platform::Recordset rs = dbSwitch.query(QStringLiteral("Select WorkerID From Worker"));
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) cboWorkerID->addItem(rs.str(QStringLiteral("WorkerID")));
    QStringList grades;
    ModSwitch::GetOptionList(QStringLiteral("操作等级"), grades);
    cboWorkGrade->addItems(grades);
    cboWorkerID->setCurrentIndex(-1);
    cboWorkGrade->setCurrentIndex(-1);

    connect(cmdLogin, &QPushButton::clicked, this, [this] { cmdLogin_Click(); });
    connect(cmdExitProgram, &QPushButton::clicked, this, [this] { cmdExitProgram_Click(); });
    connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
    connect(cmdModify, &QPushButton::clicked, this, [this] { cmdModify_Click(); });
    connect(cmdExit, &QPushButton::clicked, this, [this] { cmdExit_Click(); });
    connect(txtUser, &QLineEdit::returnPressed, this, [this] { txtPWD->setFocus(); });
    connect(txtPWD, &QLineEdit::returnPressed, this, [this] {
        cmdLogin->setFocus();
        cmdLogin_Click();
    });
    connect(cboWorkerID, &QComboBox::activated, this, [this] { cboWorkerID_Click(); });
    connect(cboWorkerID->lineEdit(), &QLineEdit::returnPressed, this, [this] { cboWorkGrade->setFocus(); });
    connect(cboWorkerID->lineEdit(), &QLineEdit::textEdited, this, [this] {
        const int before = cboWorkerID->currentIndex();
        ModGeneral::ComboAutoComplete(cboWorkerID, cmdOK->text() == QStringLiteral("增加"), true);
        if (cboWorkerID->currentIndex() >= 0 && cboWorkerID->currentIndex() != before) cboWorkerID_Click();
    });
    connect(cboWorkGrade->lineEdit(), &QLineEdit::returnPressed, this, [this] { txtWorkerName->setFocus(); });
    connect(cboWorkGrade->lineEdit(), &QLineEdit::textEdited, this, [this] {
        if (cmdOK->text() != QStringLiteral("删除")) ModGeneral::ComboAutoComplete(cboWorkGrade, false, true);
    });
    connect(txtWorkerName, &QLineEdit::returnPressed, this, [this] {
        cmdOK->setFocus();
        cmdOK_Click();
    });
    connect(txtOld, &QLineEdit::returnPressed, this, [this] { txtNew->setFocus(); });
    connect(txtNew, &QLineEdit::returnPressed, this, [this] { txtConfirm->setFocus(); });
    connect(txtConfirm, &QLineEdit::returnPressed, this, [this] {
        cmdModify->setFocus();
        cmdModify_Click();
    });
    cboRight->onDropDown = [this] { cboRight_DropDown(); };
}

void frmWorker::showPanel(QFrame* panel) {
    fraLogin->setVisible(panel == fraLogin);
    fraWorkerAddDelete->setVisible(panel == fraWorkerAddDelete);
    fraChangePassword->setVisible(panel == fraChangePassword);
    cmdExit->setVisible(panel != fraLogin);
}

void frmWorker::finish() { done(0); }

void frmWorker::reject() {
    // Esc presses the panel's cancel button.
    if (fraLogin->isVisibleTo(this)) cmdExitProgram_Click();
    else cmdExit_Click();
}

void frmWorker::closeEvent(QCloseEvent* e) {
    // The window closes only through its own buttons.
    e->ignore();
}

namespace {
// Each use of the window ends with it unloaded, however it ends: a window
// left loaded would be the next use's, shown by no modal loop.
struct UnloadAtEnd {
    UnloadAtEnd() = default;
    UnloadAtEnd(const UnloadAtEnd&) = delete;
    UnloadAtEnd& operator=(const UnloadAtEnd&) = delete;
    ~UnloadAtEnd() { frmWorker::unload(); }
};
}  // namespace

bool frmWorker::GetLogin() {
    UnloadAtEnd end;
    setWindowTitle(QString(16, QLatin1Char(' ')) + QStringLiteral("用户登录窗口"));
    showPanel(fraLogin);
    platform::RunModal(this);
    return s_LoginFlag;
}

void frmWorker::ShowWorkerManage(const QString& mode) {
    UnloadAtEnd end;
    setWindowTitle(QString(13, QLatin1Char(' ')) + QStringLiteral("员工管理窗口"));
    cmdOK->setText(mode);
    showPanel(fraWorkerAddDelete);
    platform::RunModal(this);
}

void frmWorker::ShowChangePassword() {
    UnloadAtEnd end;
    setWindowTitle(QString(5, QLatin1Char(' ')) + QStringLiteral("修改员工<") + core::PanelText(5) +
                   QStringLiteral(">的密码"));
    showPanel(fraChangePassword);
    platform::RunModal(this);
}

QString frmWorker::GetFixGrade(int grade) const {
    switch (grade) {
    case 0: return QString();
    case 1: return QStringLiteral("18,17,16,8,7,6,3");
    case 2: return QStringLiteral("28,27,26,25,24,23,22,21,20,19,18,17,16,15,14,13,12,11,10,9,8,7,6,5,4,3,2");
    case 3: return QStringLiteral("0");
    case 4: return cboRight->currentText();
    default: return QString();
    }
}

void frmWorker::cmdLogin_Click() {
    if (txtUser->text().isEmpty()) return say(QStringLiteral("请输入用户名"), txtUser);
    if (txtPWD->text().isEmpty()) return say(QStringLiteral("请输入密码"), txtPWD);
    // The worker logged in so far stays so until the new login is written: a
    // database another program holds leaves him, his rights and the console
    // as they were, and this window open with what was typed.
    const QString id = txtUser->text();
    QString name;
    QStringList rightNumbers, rightNames;
    try {
        platform::Recordset rs = dbSwitch.query(QStringLiteral("Select * From Worker where WorkerID=?"), {id});
        if (rs.empty()) return say(QStringLiteral("用户不存在"), txtUser);
        // Unscrambled first, then trimmed: a character that scrambles to a blank
        // at either end of a password must not be lost.
        const QString stored = ModGeneral::UnscramblePassword(rs.str(QStringLiteral("passcode"))).trimmed();
        if (stored != txtPWD->text().trimmed()) return say(QStringLiteral("密码不正确,请注意区分大小写!"), txtPWD);

        name = rs.str(QStringLiteral("WorkerName"));
        const QString rights = rs.str(QStringLiteral("rightlist"));
        rightNumbers = ModGeneral::SplitStr(rights, QStringLiteral(","));
        if (rights.isEmpty()) rightNumbers = QStringList{QStringLiteral("-1")};
        platform::Recordset names = dbSwitch.query(QStringLiteral("select * from rightlist  order by rightid"));
        for (const QString& r : std::as_const(rightNumbers)) {
            qint64 n = 0;
            if (!rightNumber(r, &n)) continue;
            if (names.findFirst([n](const platform::Recordset& x) { return x.lng(QStringLiteral("rightid")) == n; }))
                rightNames << names.str(QStringLiteral("rightname"));
        }
        platform::Transaction tx(dbSwitch);
        dbSwitch.execute(QStringLiteral("update Worker set b_active=0"));
        dbSwitch.execute(QStringLiteral("update Worker set b_active=1 where WorkerID=?"), {id});
        tx.commit();
    } catch (const platform::ProgramEnded&) {
        throw;
    } catch (const std::exception& e) {
        return say(QStringLiteral("登录失败：") + platform::OperatorText(e), txtPWD);
    }
    WorkerID = id;
    WorkerName = name;
    WorkerRights = rightNumbers;
    WorkerRightNames = rightNames;
    core::StatusText(4, WorkerID);
    core::StatusText(5, WorkerName);
    s_LoginFlag = true;
    ModGeneral::AddOpLog(QStringLiteral("登录系统"));
    finish();
}

void frmWorker::cmdExitProgram_Click() {
    s_LoginFlag = false;
    finish();
}

void frmWorker::cboWorkerID_Click() {
    platform::Recordset rs;
    if (!told(QStringLiteral("读取员工失败："), cboWorkerID, [&] {
            rs = dbSwitch.query(QStringLiteral("Select * From Worker where WorkerID=?"), {cboWorkerID->currentText()});
        }))
        return;
    cboRight->clear();
    if (!rs.empty()) {
        cboWorkGrade->setCurrentIndex(int(rs.lng(QStringLiteral("workgrade"))));
        txtWorkerName->setText(rs.str(QStringLiteral("WorkerName")));
        cboRight->setEditText(rs.str(QStringLiteral("rightlist")));
    } else {
        cboWorkGrade->setCurrentIndex(-1);
        cboWorkGrade->setEditText(QString());
        txtWorkerName->clear();
        cboRight->setEditText(QString());
    }
}

void frmWorker::cboRight_DropDown() {
    QSet<qint64> held;
    for (const QString& s : ModGeneral::SplitStr(cboRight->currentText(), QStringLiteral(","))) {
        qint64 n = 0;
        if (rightNumber(s, &n)) held.insert(n);
    }
    QStringList available, chosen;
    if (!told(QStringLiteral("读取权限失败："), cboRight, [&] {
            platform::Recordset rs = dbSwitch.query(QStringLiteral("select * from rightlist  order by rightid"));
            for (rs.moveFirst(); !rs.eof(); rs.moveNext())
                (held.contains(rs.lng(QStringLiteral("rightid"))) ? chosen : available) << rs.str(QStringLiteral("rightname"));
        }))
        return;
    available << QString();
    chosen << QString();
    if (!frmChange::instance().SetList(available, chosen, QStringLiteral("选择操作权限"), 0, 0)) return;
    if (gradeIndex() != 4) return;
    QStringList ids;
    const bool read = told(QStringLiteral("读取权限失败："), cboRight, [&] {
        for (const QString& name : std::as_const(chosen)) {
            if (name.isEmpty()) continue;
            const QVariant id = dbSwitch.scalar(QStringLiteral("select rightid from rightlist where rightname=?"), {name});
            if (id.isNull()) continue;
            const qint64 n = id.toLongLong();
            // Rights 0 and 1 are given only by a worker who holds every right.
            if (n < 2 && ModGeneral::CheckRight(0, ModGeneral::kRightSilent)) continue;
            ids << QString::number(n);
        }
    });
    if (read) cboRight->setEditText(ids.join(QLatin1Char(',')));
}

int frmWorker::gradeIndex() const { return cboWorkGrade->findText(cboWorkGrade->currentText(), Qt::MatchExactly); }

void frmWorker::cmdOK_Click() {
    if (ModGeneral::CheckEmpty(cboWorkGrade)) return;
    if (ModGeneral::CheckEmpty(txtWorkerName)) return;
    const QString number = cboWorkerID->currentText();
    if (!isFourDigitsOrFewer(number)) {
        MsgBox(QStringLiteral("请输入0000-9999之间的编号"), mbOKOnly, AppName);
        cboWorkerID->setFocus();
        return;
    }
    if (number == WorkerID) return say(QStringLiteral("不能对当前用户进行操作"));
    const int grade = gradeIndex();
    if (grade < 0) return say(QStringLiteral("请选择员工等级"));
    if (ModGeneral::CheckRight(2, ModGeneral::kRightMessage)) return;
    if (number.size() != 4) return say(QStringLiteral("员工编号必须为4位"), cboWorkerID);
    const QString rights = GetFixGrade(grade);
    const QString name = txtWorkerName->text();
    const QString mode = cmdOK->text();
    // A write the database refuses changes neither the list nor the boxes:
    // what was typed stays for another try.
    QString refusal;
    bool written = false;
    const bool done = told(mode + QStringLiteral("员工失败："), cboWorkerID, [&] {
        const bool exists = workerExists(number);
        if (mode == QStringLiteral("修改")) {
            if (!exists) return void(refusal = QStringLiteral("用户不存在"));
            dbSwitch.execute(QStringLiteral("update Worker set workgrade=?,rightlist=?,WorkerName=? where WorkerID=?"),
                             {grade, rights, name, number});
        } else if (mode == QStringLiteral("增加")) {
            if (exists) return void(refusal = QStringLiteral("此工号已存在"));
            // A new worker's first password is his number.
            dbSwitch.execute(QStringLiteral("insert into Worker values(?,?,?,?,?,0)"),
                             {number, name, grade, ModGeneral::ScramblePassword(number), rights});
        } else if (mode == QStringLiteral("删除")) {
            if (!exists) return void(refusal = QStringLiteral("用户不存在"));
            dbSwitch.execute(QStringLiteral("delete From Worker where WorkerID=?"), {number});
        } else {
            return;
        }
        written = true;
    });
    if (!refusal.isEmpty()) return say(refusal, cboWorkerID);
    if (!done || !written) return;
    if (mode == QStringLiteral("修改")) {
        ModGeneral::AddOpLog(QStringLiteral("修改<") + number + QStringLiteral(">权限为") + rights + QStringLiteral(",名称为 ") + name);
    } else if (mode == QStringLiteral("增加")) {
        cboWorkerID->insertItem(0, number);
        ModGeneral::AddOpLog(QStringLiteral("增加员工 ") + number);
    } else {
        const int at = cboWorkerID->findText(number, Qt::MatchExactly);
        if (at >= 0) cboWorkerID->removeItem(at);
        ModGeneral::AddOpLog(QStringLiteral("删除员工 ") + number);
    }
    ModGeneral::ClearControls(this);
}

void frmWorker::cmdModify_Click() {
    if (txtOld->text().isEmpty()) return say(QStringLiteral("请输入旧密码"), txtOld);
    if (txtNew->text().isEmpty()) return say(QStringLiteral("请输入新密码"), txtNew);
    platform::Recordset rs;
    if (!told(QStringLiteral("修改密码失败："), txtOld, [&] {
            rs = dbSwitch.query(QStringLiteral("Select * From Worker where WorkerID=?"), {WorkerID});
        }))
        return;
    if (rs.empty() || ModGeneral::UnscramblePassword(rs.str(QStringLiteral("passcode"))).trimmed() != txtOld->text().trimmed()) {
        txtOld->clear();
        return say(QStringLiteral("旧密码不正确,请注意区分大小写,请重新输入"), txtOld);
    }
    if (txtNew->text().trimmed() != txtConfirm->text().trimmed()) {
        txtNew->clear();
        txtConfirm->clear();
        return say(QStringLiteral("两次输入的密码不一样,请注意大小写"), txtNew);
    }
    if (!told(QStringLiteral("修改密码失败："), txtNew, [&] {
            dbSwitch.execute(QStringLiteral("update Worker set passcode=? where WorkerID=?"),
                             {ModGeneral::ScramblePassword(txtNew->text().trimmed()), WorkerID});
        }))
        return;
    ModGeneral::AddOpLog(QStringLiteral("修改密码"));
    say(QStringLiteral("密码修改成功"));
    finish();
}

void frmWorker::cmdExit_Click() {
    fraLogin->hide();
    fraWorkerAddDelete->hide();
    fraChangePassword->hide();
    finish();
}
