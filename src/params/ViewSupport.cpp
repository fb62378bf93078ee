#include "params/ViewSupport.h"

#include "console/frmPABX.h"
#include "core/ModDefine.h"

#include <QRegularExpression>

namespace params::views {

void StatusText(const QString& text) { frmPABX::instance().sbrInfo->setPanelText(2, text); }

platform::FlexGrid& ConsoleGrid() { return *frmPABX::instance().fgDisp; }

QString DialText(const QString& hex) {
    QString out;
    for (const QChar ch : hex) {
        if (ch == 'B') out += '*';
        else if (ch == 'C') out += '#';
        else if (ch == 'E' || (ch >= '0' && ch <= '9')) out += ch;
    }
    return out;
}

QString ExtNumberAt(qint64 address) {
    const QVariant v = dbSwitch.scalar(QStringLiteral("Select txhm From que_txhm where address=?"), {address});
    return v.isNull() ? QStringLiteral("****") : v.toString();
}

int FlexibleHeadLen() {
    const QVariant v = dbSwitch.scalar(QStringLiteral("select headlen from lanhead where headtype=29"));
    const int len = v.isNull() ? 0 : v.toInt();
    return len < 1 || len > 4 ? 4 : len;
}

QString CheckedTable(const QString& name) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    if (!plain.match(name).hasMatch())
        throw platform::DbError(platform::kErrNoSuchTable, QStringLiteral("表名无效: %1").arg(name));
    return name;
}

}  // namespace params::views

namespace params::views {

void Options(const QString& title, QStringList& list) {
    static const QList<QPair<QStringList, const char*>> fixed = {
        {{"开关", "来电显示", "清密码", "外入禁止", "排队开关", "排队标志", "免打扰", "呼入提示", "转接返回", "闭锁",
          "转移开关", "已结算", "附加费折价否", "手续费折价否", "打印即时话单", "押金监控", "分机超支"}, "OFF,ON"},
        {{"时段类型"}, "时段1,时段2,空"},
        {{"转接1", "转接2"}, "直拨,转接,群呼,排队"},
        {{"通话类型"}, "内线,呼入,市话,网间,信息台,移动,国内长途,国际长途"},
        {{"话机类型"}, "专用话机,双音频,脉冲,语音信箱"},
        {{"分机类型"}, "特服分机,普通分机,跨组禁止,本组禁止"},
        {{"提机方式"}, "内线,本地"},
        {{"话单类型"}, "国际,国际地区,国内长途,省内长途,移动通讯,网间,信息台,市话,IP电话,本局,被叫"},
        {{"使用等级", "等级一", "密码等级", "等级二", "费率等级", "押金等级"},
         "话务台,特权用户,国际长途,国内长途,特服号,专网长话,网间,信息台,市话,间接局,本局,呼叫话务台,呼入,禁止使用,,"},
        {{"结算方式"}, "押金用户,按月用户,不结算用户"},
    };
    list.clear();
    if (title == QStringLiteral("费率类型")) {
        list = QString::fromUtf8(SwitchModel == 2 ? "国际,国内,移动,本地" : "国际1,国内1,移动1,本地1,国际2,国内2,移动2,本地2").split(',');
        return;
    }
    for (const auto& f : fixed)
        if (f.first.contains(title)) { list = QString::fromUtf8(f.second).split(','); return; }
    const bool jump = QStringList{"离位转移", "遇忙转移", "内部热线", "久叫转移"}.contains(title);
    if (jump || QStringList{"始呼分机1", "始呼分机2", "群呼分机", "分机号码"}.contains(title)) {
        platform::Recordset rs = dbSwitch.query(QStringLiteral(
            "Select HeadID,SpringNum,Address From Extension,LanHead where Head=HeadType order by Address"));
        for (rs.moveFirst(); !rs.eof(); rs.moveNext()) list << rs.str("HeadID") + rs.str("SpringNum");
        if (jump) list << QStringLiteral("转虚拟网") << QStringLiteral("禁止设置") << QStringLiteral("没有设置");
        if (list.isEmpty()) list << QString();
        return;
    }
    list << QString();
}

void Users(QStringList& list) {
    platform::Recordset rs = dbSwitch.query(QStringLiteral("select userid,username from user order by userid"));
    if (rs.empty()) {
        if (list.isEmpty()) list << QString();
        list[0] = QStringLiteral("默认用户");
        return;
    }
    list.clear();
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) list << rs.str("username") + '-' + rs.str("userid");
}

QString UserName(const QStringList& list, qint64 userId) {
    for (const QString& item : list) {
        const int dash = item.indexOf('-');
        if (dash >= 0 && item.mid(dash + 1) == QString::number(userId)) return item.left(dash);
    }
    return QStringLiteral("默认用户");
}

}  // namespace params::views
