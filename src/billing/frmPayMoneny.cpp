#include "billing/frmPayMoneny.h"

#include "core/ModDefine.h"
#include "core/ModGeneralText.h"
#include "platform/Prompts.h"

#include <QHBoxLayout>
#include <QVBoxLayout>
#include <memory>

namespace {
std::unique_ptr<frmPayMoneny> g_instance;
}  // namespace

frmPayMoneny& frmPayMoneny::instance() {
    if (!g_instance) g_instance.reset(new frmPayMoneny);
    return *g_instance;
}
bool frmPayMoneny::exists() { return static_cast<bool>(g_instance); }
void frmPayMoneny::unload() { g_instance.reset(); }

frmPayMoneny::frmPayMoneny(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmPayMoneny"));
    setWindowTitle(QStringLiteral(" "));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    Label1 = new QLabel(this);
    Label2 = new QLabel(this);
    Text1 = new QLineEdit(QStringLiteral("0"), this);
    const QStringList captions{QStringLiteral("确定(&O)"), QStringLiteral("取消(&C)"), QStringLiteral("全部付清")};
    auto* buttons = new QHBoxLayout;
    for (int i = 0; i < 3; ++i) {
        auto* b = new QPushButton(captions[i], this);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, i] { Command1_Click(i); });
        buttons->addWidget(b);
        Command1 << b;
    }
    Command1[0]->setDefault(true);
    auto* v = new QVBoxLayout(this);
    v->addWidget(Label1);
    v->addWidget(Label2);
    v->addWidget(Text1);
    v->addLayout(buttons);
    setFixedSize(sizeHint().expandedTo(QSize(320, 0)));
}

int frmPayMoneny::GetRetCode(platform::Currency& amount) {
    // Only a button sets the answer: closing the dialog otherwise cancels.
    m_RetCode = 2;
    Text1->setText(amount.toString2());
    Text1->selectAll();
    Text1->setFocus();
    platform::RunModal(this);
    const int code = m_RetCode;
    if (code != 2) amount = m_Amount;
    unload();
    return code;
}

void frmPayMoneny::Command1_Click(int index) {
    if (index == 1) {
        m_RetCode = 2;
        done(QDialog::Rejected);
        return;
    }
    // Accepting and paying all both pay with the amount: it must be a number.
    // Money is paid in whole fen, as every amount typed into a cell is:
    // "12.345" pays 12.35.
    auto v = platform::Currency::parse(Text1->text().trimmed());
    if (v) v = v->roundToFen();
    if (!v || !ModGeneral::WithinMoneyLimit(*v)) {
        // A number beyond the range the station keeps money in is told; a text
        // that is no number is refused without a word.
        if (v) platform::MsgBox(ModGeneral::MoneyRangeText(), platform::mbOKOnly, AppName);
        Text1->selectAll();
        Text1->setFocus();
        return;
    }
    m_Amount = *v;
    m_RetCode = index + 1;
    done(QDialog::Accepted);
}

void frmPayMoneny::reject() {
    m_RetCode = 2;
    QDialog::reject();
}
