#include "billing/ObjectPicker.h"

#include "billing/BillQuery.h"
#include "core/ModDefine.h"
#include "platform/Clock.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>
#include <algorithm>

namespace billing {

const QString kPeriodStoredFormat = QStringLiteral("yyyy/MM/dd HH:mm:ss");

QDateTime StoredPeriodDate(const QString& text) {
    QDateTime t = QDateTime::fromString(text.trimmed(), kPeriodStoredFormat);
    if (!t.isValid()) t = platform::parseDate(text);
    return t;
}

QString PickerKey(const QTreeWidgetItem* it) { return it->data(0, Qt::UserRole).toString(); }

namespace {

QDateTime nowToSecond() {
    const QDateTime now = platform::Now();
    return QDateTime(now.date(), QTime(now.time().hour(), now.time().minute(), now.time().second()));
}

}  // namespace

ObjectPickerWindow::ObjectPickerWindow(QWidget* parent, bool keepShown)
    : QWidget(parent, Qt::Window), m_KeepShown(keepShown) {}

QGroupBox* ObjectPickerWindow::makeObjectBox(const QString& title, const QStringList& kinds) {
    auto* objBox = new QGroupBox(title, this);
    auto* objLay = new QVBoxLayout(objBox);
    auto* optRow = new QHBoxLayout;
    for (const QString& c : kinds) {
        auto* o = new QRadioButton(c, objBox);
        optRow->addWidget(o);
        optOBJ << o;
    }
    objLay->addLayout(optRow);
    lvObj = new QTreeWidget(objBox);
    lvObj->setColumnCount(1);
    lvObj->setRootIsDecorated(false);
    lvObj->header()->setSectionsClickable(true);
    lvObj->setEditTriggers(QAbstractItemView::NoEditTriggers);
    objLay->addWidget(lvObj);
    return objBox;
}

void ObjectPickerWindow::makePeriod(QWidget* box) {
    chkLast = new QCheckBox(QStringLiteral("使用上次结算时间"), box);
    chkNow = new QCheckBox(QStringLiteral("使用当前时间"), box);
    DTPStart = new QDateTimeEdit(box);
    DTPEnd = new QDateTimeEdit(box);
    for (QDateTimeEdit* d : {DTPStart, DTPEnd}) {
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        d->setCalendarPopup(true);
    }
}

void ObjectPickerWindow::connectPicker() {
    connect(chkLast, &QCheckBox::clicked, this, [this] { chkLast_Click(); });
    connect(chkNow, &QCheckBox::clicked, this, [this] { chkNow_Click(); });
    connect(DTPStart, &QDateTimeEdit::dateTimeChanged, this, [this](const QDateTime& t) {
        if (!m_Filling && !chkLast->isChecked()) m_Start = t;
    });
    connect(DTPEnd, &QDateTimeEdit::dateTimeChanged, this, [this](const QDateTime& t) {
        if (!m_Filling && !chkNow->isChecked()) m_End = t;
    });
    connect(lvObj, &QTreeWidget::itemChanged, this, [this] {
        if (!m_Filling) lvObj_ItemCheck();
    });
    connect(lvObj->header(), &QHeaderView::sectionClicked, this, [this] { lvObj_ColumnClick(); });
}

void ObjectPickerWindow::listObjects(int k, const std::function<void(QList<QTreeWidgetItem*>&)>& load,
                                     bool withDeleted) {
    m_Obj = k;
    m_Filling = true;
    lvObj->clear();
    const QString cap = optOBJ[k]->text();
    lvObj->setHeaderLabels({cap});
    QList<QTreeWidgetItem*> items;
    load(items);
    std::stable_sort(items.begin(), items.end(),
                     [](QTreeWidgetItem* a, QTreeWidgetItem* b) { return a->text(0) < b->text(0); });
    QList<QPair<QString, QString>> head{{QStringLiteral("全部") + cap, QStringLiteral("ALL")}};
    if (k == kObjUsers)
        head << qMakePair(QStringLiteral("押金用户"), QStringLiteral("Deposit"))
             << qMakePair(QStringLiteral("按月用户"), QStringLiteral("Monthly"))
             << qMakePair(QStringLiteral("不结算用户"), QStringLiteral("Free"));
    for (int i = head.size() - 1; i >= 0; --i) {
        auto* it = new QTreeWidgetItem({head[i].first});
        it->setData(0, Qt::UserRole, head[i].second);
        items.prepend(it);
    }
    if (withDeleted) {
        auto* del = new QTreeWidgetItem({QStringLiteral("已删除") + cap});
        del->setData(0, Qt::UserRole, QStringLiteral("Delete"));
        items << del;
    }
    for (QTreeWidgetItem* it : items) {
        it->setFlags(it->flags() | Qt::ItemIsUserCheckable);
        it->setCheckState(0, Qt::Unchecked);
    }
    lvObj->addTopLevelItems(items);
    m_Filling = false;
    SetUncheckLast();
}

void ObjectPickerWindow::showStart(const QDateTime& t) {
    m_Filling = true;
    DTPStart->setDateTime(t);
    m_Filling = false;
}

void ObjectPickerWindow::showEnd(const QDateTime& t) {
    m_Filling = true;
    DTPEnd->setDateTime(t);
    m_Filling = false;
}

QTreeWidgetItem* ObjectPickerWindow::itemByKey(const QString& key) const {
    for (int i = 0; i < lvObj->topLevelItemCount(); ++i)
        if (PickerKey(lvObj->topLevelItem(i)) == key) return lvObj->topLevelItem(i);
    return nullptr;
}

void ObjectPickerWindow::SetUncheckLast() {
    DTPStart->setEnabled(true);
    if (chkLast->isChecked()) {
        chkLast->setChecked(false);
        showStart(m_Start);
    }
    chkLast->setEnabled(false);
    m_SelUser = -1;
}

void ObjectPickerWindow::lvObj_ItemCheck() {
    SetUncheckLast();
    // Only one single ticked user has a last settlement to start from.
    if (m_Obj != kObjUsers) return;
    const int n = lvObj->topLevelItemCount();
    for (int i = 0; i < qMin(4, n); ++i)
        if (lvObj->topLevelItem(i)->checkState(0) == Qt::Checked) return;
    QTreeWidgetItem* one = nullptr;
    for (int i = 4; i < n; ++i) {
        if (lvObj->topLevelItem(i)->checkState(0) != Qt::Checked) continue;
        if (one) return;
        one = lvObj->topLevelItem(i);
    }
    if (!one) return;
    m_SelUser = PickerKey(one) == QLatin1String("Delete") ? 0 : PickerKey(one).mid(1).toLongLong();
    chkLast->setEnabled(true);
    chkLast->setChecked(true);
    chkLast_Click();
}

void ObjectPickerWindow::lvObj_ColumnClick() {
    m_Filling = true;
    for (int i = 0; i < lvObj->topLevelItemCount(); ++i)
        lvObj->topLevelItem(i)->setCheckState(0, m_CheckAll ? Qt::Checked : Qt::Unchecked);
    m_Filling = false;
    m_CheckAll = !m_CheckAll;
    lvObj_ItemCheck();
}

void ObjectPickerWindow::chkLast_Click() {
    // The last settlement date belongs to one user: without one, nothing to show.
    if (chkLast->isChecked() && m_SelUser < 0) {
        chkLast->setChecked(false);
        return;
    }
    DTPStart->setEnabled(!chkLast->isChecked());
    if (!chkLast->isChecked()) {
        showStart(m_Start);
        return;
    }
    if (m_KeepShown) m_Start = DTPStart->dateTime();
    try {
        const QDateTime last = platform::parseDate(
            dbSwitch.scalar(QStringLiteral("SELECT lastdate FROM user WHERE userid=?"), {m_SelUser}));
        // A user never settled keeps the start shown.
        if (last.isValid()) showStart(last);
    } catch (const platform::DbError&) {
    }
}

void ObjectPickerWindow::chkNow_Click() {
    DTPEnd->setEnabled(!chkNow->isChecked());
    if (chkNow->isChecked()) {
        if (m_KeepShown) m_End = DTPEnd->dateTime();
        showEnd(nowToSecond());
    } else {
        showEnd(m_End);
    }
}

}  // namespace billing
