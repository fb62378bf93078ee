#include "params/OptionLists.h"

#include "core/ModDefine.h"
#include "core/ModGeneral.h"
#include "core/RowLists.h"
#include "core/frmChange.h"

#include <QSet>

namespace ModSwitch {

namespace {

struct FixedList {
    QStringList titles;
    const char* options;
};

// Columns whose codes are positions in a fixed list of texts.
const QList<FixedList>& fixedLists() {
    static const QList<FixedList> lists = {
        {{"开关", "来电显示", "清密码", "外入禁止", "排队开关", "排队标志", "免打扰", "呼入提示", "转接返回", "闭锁",
          "转移开关", "已结算", "附加费折价否", "手续费折价否", "打印即时话单", "押金监控", "分机超支"},
         "OFF,ON"},
        {{"时段类型"}, "时段1,时段2,空"},
        {{"分机押金类型"}, "累计,扣除,修改"},
        {{"发码方式"}, "脉冲,音频,兼容,不转发"},
        {{"计费方式"}, "延时,反极,自动,不计费"},
        {{"中继类型"}, "直接局,间接局,长途局"},
        {{"转接1", "转接2"}, "直拨,转接,群呼,排队"},
        {{"本机类别"},
         "话务台参数,话务台功能,话务台语音,长途出局,本地出局,间接出局,指定出局,用户功能码,用户语音码,"
         "本局1,本局2,本局3,本局4,本局5,本局6,本局7,本局8,本局9,本局闭锁,呼叫话务台,分机代接码,缩位码"},
        {{"市话类别"},
         "限拨号,国际长途,国内长途,BP机,特服号,网间,信息台,本地局号,转移局向,本局1,本局2,本局3,本局4,"
         "本局5,本局6,本局7,本局8,本局9,呼叫话务台,分机代接码"},
        {{"操作等级"}, "普通级,操作级,管理级,维护级,自定义"},
        {{"通话类型"}, "内线,呼入,市话,网间,信息台,移动,国内长途,国际长途"},
        {{"转接类型"}, "间接,市话,专网,长话"},
        {{"话机类型"}, "专用话机,双音频,脉冲,语音信箱"},
        {{"连选方式"}, "无连选,被连方式,主连方式,自动呼叫"},
        {{"转接遇忙"}, "不处理,提机送忙音,转群呼分机,呼叫等待"},
        {{"直拨遇忙"}, "直接挂断,转总机,允许再拨"},
        {{"提机方式"}, "内线,本地"},
        {{"分机类型"}, "特服分机,普通分机,跨组禁止,本组禁止"},
        // 费率类型 depends on the switch model: handled before this table.
        {{"话单类型"}, "国际,国际地区,国内长途,省内长途,移动通讯,网间,信息台,市话,IP电话,本局,被叫"},
        {{"PABX话单类型", "服务类型"},
         "公网普通话单,专网话单,本机话单,入中继话单,,,设置叫醒,振铃已接,振铃未接,取消叫醒,公网转发话单"},
        {{"使用等级", "等级一", "密码等级", "等级二", "费率等级", "押金等级"},
         "话务台,特权用户,国际长途,国内长途,特服号,专网长话,网间,信息台,市话,间接局,本局,呼叫话务台,呼入,禁止使用,,"},
        {{"结算方式"}, "押金用户,按月用户,不结算用户"},
    };
    return lists;
}

const char* kWeekdays = "星期一,星期二,星期三,星期四,星期五,星期六,星期日";

// A database list: starts empty (a query without rows must not leave the
// previous column's options behind), never ends without an element.
void readList(const QString& sql, QStringList& list, bool bPair) {
    list.clear();
    ModSwitch::GetRsArray(sql, list, dbSwitch, bPair);
}

// Items of a chooser array (the chooser's trailing empty element dropped).
QStringList items(const QStringList& arr) {
    QStringList r;
    for (const QString& s : arr)
        if (!s.isEmpty()) r << s;
    return r;
}

// Runs the chooser over `options` with the ones in `chosen` pre-chosen;
// returns false on cancel, otherwise the chosen set.
bool choose(const QStringList& options, const QSet<QString>& chosen, const QString& title, int nLimit,
            QSet<QString>* result) {
    QStringList available, have;
    for (const QString& o : options) {
        if (o.isEmpty()) continue;
        (chosen.contains(o) ? have : available) << o;
    }
    if (available.isEmpty()) available << QString();
    if (have.isEmpty()) have << QString();
    if (!frmChange::instance().SetList(available, have, title, 0, nLimit)) return false;
    result->clear();
    for (const QString& s : items(have)) result->insert(s);
    return true;
}

}  // namespace

void GetOptionList(const QString& title, QStringList& list) {
    if (title == QStringLiteral("费率类型")) {
        ModGeneral::SplitStr(SwitchModel == 2 ? QStringLiteral("国际,国内,移动,本地")
                                              : QStringLiteral("国际1,国内1,移动1,本地1,国际2,国内2,移动2,本地2"),
                             list, QStringLiteral(","));
        return;
    }
    for (const FixedList& f : fixedLists()) {
        if (f.titles.contains(title)) {
            ModGeneral::SplitStr(QString::fromUtf8(f.options), list, QStringLiteral(","));
            return;
        }
    }
    if (title == QStringLiteral("字头")) {
        readList(QStringLiteral("Select HeadID,HeadType From LanHead"), list, true);
    } else if (title == QStringLiteral("离位转移") || title == QStringLiteral("遇忙转移") ||
               title == QStringLiteral("内部热线") || title == QStringLiteral("久叫转移")) {
        readList(QStringLiteral("Select HeadID,SpringNum From Extension ,LanHead where Head=HeadType order by Address"),
                 list, true);
        list << QStringLiteral("转虚拟网") << QStringLiteral("禁止设置") << QStringLiteral("没有设置");
    } else if (title == QStringLiteral("始呼分机1") || title == QStringLiteral("始呼分机2") ||
               title == QStringLiteral("群呼分机") || title == QStringLiteral("分机号码")) {
        readList(QStringLiteral("Select HeadID,SpringNum,Address From Extension,LanHead where Head=HeadType order by Address"),
                 list, true);
    } else if (title == QStringLiteral("所属用户")) {
        GetUserList(list);
        return;
    } else if (title == QStringLiteral("所属部门")) {
        GetDeptList(list);
        return;
    } else {
        list.clear();
    }
    if (list.isEmpty()) list << QString();
}

void GetDeptList(QStringList& list) {
    platform::Recordset rs = dbSwitch.query(QStringLiteral("select deptname from user group by deptname"));
    if (rs.empty()) {
        if (list.isEmpty()) list << QString();
        list[0] = QStringLiteral("默认部门");
        return;
    }
    list.clear();
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) list << rs.str(QStringLiteral("deptname"));
}

void GetUserList(QStringList& list) {
    platform::Recordset rs = dbSwitch.query(QStringLiteral("select userid,username from user order by userid"));
    if (rs.empty()) {
        if (list.isEmpty()) list << QString();
        list[0] = QStringLiteral("默认用户");
        return;
    }
    list.clear();
    for (rs.moveFirst(); !rs.eof(); rs.moveNext())
        list << rs.str(QStringLiteral("username")) + QLatin1Char('-') + QString::number(rs.lng(QStringLiteral("userid")));
}

QString UserNameOf(const QStringList& list, qint64 userId) {
    const QString id = QString::number(userId);
    // "name-id": a name may hold "-" itself, the id follows the last one.
    for (const QString& item : list) {
        const int dash = item.lastIndexOf(QLatin1Char('-'));
        if (dash >= 0 && item.mid(dash + 1) == id) return item.left(dash);
    }
    return QStringLiteral("默认用户");
}

int FindInArray(const QStringList& list, const QString& text) {
    const int i = list.indexOf(text);
    return i < 0 ? 0 : i;
}

QString ChooseListItems(const QString& current, const QString& title) {
    QStringList options;
    int nLimit = 0;
    if (title == QStringLiteral("群呼分机")) {
        platform::Recordset rs = dbSwitch.query(QStringLiteral("Select txhm,Address From que_txhm order by Address"));
        for (rs.moveFirst(); !rs.eof(); rs.moveNext()) options << rs.str(QStringLiteral("txhm"));
        nLimit = 5;  // the group-call cell holds five extensions
    } else {
        GetOptionList(QStringLiteral("通话类型"), options);
    }
    QSet<QString> chosen;
    for (const QString& s : ModGeneral::SplitStr(current, QStringLiteral(",")))
        if (!s.isEmpty()) chosen.insert(s);
    QSet<QString> result;
    if (!choose(options, chosen, title, nLimit, &result)) return current;
    QStringList out;
    for (const QString& o : options)
        if (!o.isEmpty() && result.contains(o) && !out.contains(o)) out << o;
    return out.join(QLatin1Char(','));
}

quint8 ChooseWeekdays(quint8 mask) {
    const QStringList days = QString::fromUtf8(kWeekdays).split(QLatin1Char(','));
    QSet<QString> chosen;
    for (int i = 0; i < days.size(); ++i)
        if (mask & (1u << i)) chosen.insert(days[i]);
    QSet<QString> result;
    if (!choose(days, chosen, QStringLiteral("折价选项"), 0, &result)) return mask;
    quint8 r = 0;
    for (int i = 0; i < days.size(); ++i)
        if (result.contains(days[i])) r |= quint8(1u << i);
    return r;
}

int GetColIndex(const QString& title, const platform::FlexGrid& grid) {
    for (int c = 0; c < grid.Cols(); ++c)
        if (grid.TextMatrix(0, c) == title) return c;
    return -1;
}

}  // namespace ModSwitch
