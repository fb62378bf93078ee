// The user view's commands (assign extensions and accounts, initialise) and
// the board panel, where the operator edits the switch's board layout.
#include "console/frmPABX.h"

#include "billing/frmBalanceBill.h"
#include "core/books/ChargeLog.h"
#include "core/Deposit.h"
#include "core/ModDefine.h"
#include "core/OpLog.h"
#include "core/frmChange.h"
#include "link/FrameCodes.h"
#include "link/ModComm.h"
#include "link/Monitor.h"
#include "params/BoardPanel.h"
#include "params/CellEdit.h"
#include "params/SavePara.h"
#include "params/TransferHooks.h"
#include "platform/Clock.h"
#include "platform/Currency.h"
#include "platform/Prompts.h"

#include <QHash>
#include <QSet>

namespace {

constexpr quint32 kSpare = 0x808080;
constexpr quint32 kSpecPhone = 0x00FFFF;

void say(const QString& text) { core::StatusText(2, text); }

QStringList column(const QString& sql, const platform::Params& params, const QString& prefix) {
    QStringList out;
    platform::Recordset rs = dbSwitch.query(sql, params);
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) out << prefix + rs.value(0).toString();
    return out;
}

}  // namespace

// ------------------------------------------------------------------ user commands

void frmPABX::mnuViewUser_Click() {
    const qint64 uid = fgDisp->TextMatrix(GridSelFirst, 0).trimmed().toLongLong();
    const QString ext = QStringLiteral("Ext:"), acc = QStringLiteral("Acc:");
    QStringList available =
        column(QStringLiteral("select headid||springnum as Txhm from lanhead,extension,que_extcount where "
                              "headtype=head and ExtCount>address and userid=0 order by address"),
               {}, ext) +
        column(QStringLiteral("select account from account where userid=0 and account<>'FFFF' order by address"), {}, acc);
    QStringList chosen =
        column(QStringLiteral("select distinct headid||springnum as Txhm from lanhead,extension,que_extcount where "
                              "headtype=head and ExtCount>address and userid=?"),
               {uid}, ext) +
        column(QStringLiteral("select account from account where account<>'FFFF' and userid=? order by address"),
               {uid}, acc);
    if (!frmChange::instance().SetList(available, chosen, QStringLiteral("用户分机和帐号"), 0, 0)) return;

    // Released, re-assigned and graded together: a failure leaves every
    // extension and account with its previous owner.
    platform::Transaction tx(dbSwitch);
    // What the switch holds of every row that may change owner: a row whose
    // grade or frame changes (an owner locked, or paying in advance) waits
    // for its download, or the switch keeps the old one.
    const ModSwitch::OwnedRowsBefore before({0, uid});
    const int g0 = ModGeneral::GetDepositGrade(0);
    // Each owner given or taken is an entry of the journal: a copy put back gives it back.
    ModSwitch::MoveOwners([&] {
        dbSwitch.execute(QStringLiteral("update extension set userid=0,depositgrade=? where userid=?"), {g0, uid});
        dbSwitch.execute(QStringLiteral("update account set userid=0,depositgrade=? where userid=?"), {g0, uid});
        for (const QString& e : chosen) {
            if (e.startsWith(ext)) {
                const QVariant address = dbSwitch.scalar(
                    QStringLiteral("select address from que_txhm where txhm=? order by address limit 1"), {e.mid(4)});
                if (!address.isNull())
                    dbSwitch.execute(QStringLiteral("update extension set userid=? where address=?"), {uid, address});
            } else if (e.startsWith(acc)) {
                dbSwitch.execute(QStringLiteral("update account set userid=? where account=?"), {uid, e.mid(4)});
            }
        }
    });
    const int g = ModGeneral::GetDepositGrade(uid);
    dbSwitch.execute(QStringLiteral("update extension set depositgrade=? where userid=?"), {g, uid});
    dbSwitch.execute(QStringLiteral("update account set depositgrade=? where userid=?"), {g, uid});
    before.MarkChanged();
    tx.commit();
}

void frmPABX::mnuInitUser_Click() {
    const int r = GridSelFirst;
    const QString u = fgDisp->TextMatrix(r, 0).trimmed();
    const auto remain = platform::Currency::parse(fgDisp->TextMatrix(r, 5).trimmed());
    if (remain && remain->raw() != 0 &&
        platform::MsgBox(fgDisp->TextMatrix(r, 1) + QStringLiteral("用户还有押金余额,要强制初始化用户吗"),
                         platform::mbYesNo, AppName) != platform::rYes)
        return;
    const QString now = platform::dateText(platform::Now());
    // Unlocked, the user's rows go to the switch with new frames: each one
    // that changes waits for its download until the push below takes it.
    // The charges still waiting are applied first, and the balance given up
    // is an entry of the journal.
    int moved = 0;
    {
        const ModSwitch::OwnedRowsBefore before({u.toLongLong()});
        platform::Transaction tx(dbSwitch);
        ModSwitch::MoveBalances(
            [&] {
                dbSwitch.execute(QStringLiteral("update user set lastdate=?,locked=0,deposit=0,remain=0 where userid=?"),
                                 {now, u.toLongLong()});
            },
            u.toLongLong());
        moved = before.MarkChanged();
        tx.commit();
    }
    fgDisp->setTextMatrix(r, 2, now);
    fgDisp->setTextMatrix(r, 10, QStringLiteral("OFF"));
    fgDisp->setTextMatrix(r, 4, QStringLiteral("0.00"));
    fgDisp->setTextMatrix(r, 5, QStringLiteral("0.00"));
    // An amount typed into the row before and not saved would come back with
    // the save: the deposit starts again from nothing.
    ModSwitch::DropTypedDeposit(u.toLongLong());
    ModGeneral::CheckDeposit(u.toLongLong(), true, moved > 0);
}

// The settlement window settles and pays the user with its remembered
// settings; the console is away meanwhile, and monitoring and the switch's
// reports come back whatever the settlement did.
void frmPABX::mnuBalanceUser_Click() {
    const qint64 uid = fgDisp->TextMatrix(GridSelFirst, 0).trimmed().toLongLong();
    hide();
    ModComm::SendOrder(FrameCode::kMonitorOff, false, 4, true);
    ModComm::SendOrder(FrameCode::kPauseReports, false, 4, true);
    struct Back {
        frmPABX* c;
        ~Back() {
            try {
                if (frmBalanceBill::exists()) frmBalanceBill::unload();
                c->show();
                ModComm::SetMonitor(true);
                ModComm::SendOrder(FrameCode::kResumeReports, false, 4, true);
            } catch (...) {
            }
        }
    } back{this};
    frmBalanceBill::SettleUser(uid);
}

// ------------------------------------------------------------------ board panel

void frmPABX::tbrLegend_ButtonClick(int index) { m_LegendButton = index; }

namespace {

QAction* legendButton(QActionGroup* group, int n) {
    const QList<QAction*> buttons = group->actions();
    return n >= 1 && n <= buttons.size() ? buttons[n - 1] : nullptr;
}

void press(QActionGroup* group, int n) {
    if (QAction* a = legendButton(group, n)) a->setChecked(true);
}

bool phonePressed(QActionGroup* group) {
    for (QAction* a : group->actions())
        if (a->data().toString() == QLatin1String("Phone")) return a->isChecked();
    return false;
}

void setSlot(int index, int dispcard) {
    dbSwitch.execute(QStringLiteral("update moncard set dispcard=?,portstatus=0 where cardlayer=0 and cardorder=?"),
                     {dispcard, index});
}

}  // namespace

void frmPABX::picCard_MouseDown(int Index) {
    auto& cards = ModComm::CardList;
    if (Index < 0 || Index >= cards.size()) return;
    if (cards[Index].Color == kSpare) {
        if (Index == 0 || Index == 1 || Index == 3 || Index == 4) press(legendGroup, 1);
        else if (Index == 2 || Index == 5) press(legendGroup, 2);
        else if (Index == 6) press(legendGroup, 3);
        return;
    }
    if (Index > 6 && ModComm::SpecPhoneCount < 4 && cards[Index].Color != kSpecPhone)
        press(legendGroup, m_LegendButton == 5 ? 5 : 6);
    else
        press(legendGroup, 6);
}

void frmPABX::picCard_Click(int Index) {
    auto& cards = ModComm::CardList;
    if (Index < 0 || Index >= cards.size() || cards.size() < 22) return;
    say(QString());
    // A board layout read from the switch is taken over first.
    if (ParaMode == QLatin1String("UpSend")) ModSwitch::SaveSwitchPara(m_TableRight, true);
    if (ModGeneral::CheckRight(m_TableRight, 0)) return;
    if (Index == 6) {
        say(QStringLiteral("音令板必须要设置"));
        return;
    }
    CardRec& slot = cards[Index];
    const bool phone = phonePressed(legendGroup) || slot.Color == kSpecPhone;
    if (phone && slot.Color == kSpecPhone) {
        // Taken out: a subscriber board again, or a spare slot at the end of the rack.
        const bool toSpare = Index == 21 || cards[Index + 1].Color == kSpare;
        setSlot(Index, toSpare ? 15 : 0);
        --ModComm::SpecPhoneCount;
        slot.Color = toSpare ? kSpare : slot.DefColor;
        slot.Fitted = toSpare ? 0 : -1;
        ModSwitch::SetCardColor(Index, slot.Color, 0);
        g_Modified = true;
        return;
    }
    if (phone) {
        if (Index <= 6) return;
        const qint64 fitted = dbSwitch.scalar(QStringLiteral("select count(*) from moncard where dispcard=11")).toLongLong();
        if (fitted > 2) {
            // The board about to go in is the last one allowed.
            for (QAction* a : legendGroup->actions())
                if (a->data().toString() == QLatin1String("Phone")) a->setChecked(false);
        }
        if (fitted > 3) {
            say(QStringLiteral("只能设置四块专用电话板"));
            return;
        }
        if (cards[Index - 1].Color == kSpare) {
            say(QStringLiteral("请从前至后依次设置板卡"));
            return;
        }
        setSlot(Index, 11);
        ++ModComm::SpecPhoneCount;
        ModSwitch::SetCardColor(Index, kSpecPhone, 0);
        slot.Fitted = -1;
        slot.Color = kSpecPhone;
        g_Modified = true;
        return;
    }
    if (slot.Color == kSpare) {
        // Boards of one kind are fitted from the front.
        for (int i = 0; i < Index; ++i) {
            if (cards[i].Color == kSpare && cards[i].DefColor == slot.DefColor) {
                say(QStringLiteral("请先设置第 ") + QString::number(i + 1) + QStringLiteral(" 块板"));
                return;
            }
        }
        dbSwitch.execute(
            QStringLiteral("update moncard set dispcard=defaultcard,portstatus=0 where cardlayer=0 and cardorder=?"),
            {Index});
        slot.Fitted = -1;
        slot.Color = slot.DefColor;
        ModSwitch::SetCardColor(Index, slot.DefColor, 0);
        g_Modified = true;
        return;
    }
    // ... and removed from the back.
    for (int i = 21; i > Index; --i) {
        if (cards[i].Color == slot.Color || (Index >= 7 && cards[i].Color == kSpecPhone)) {
            say(QStringLiteral("请先撤消第 ") + QString::number(i + 1) + QStringLiteral(" 块板"));
            return;
        }
    }
    setSlot(Index, 15);
    slot.Fitted = 0;
    slot.Color = kSpare;
    ModSwitch::SetCardColor(Index, kSpare, 0);
    g_Modified = true;
}
