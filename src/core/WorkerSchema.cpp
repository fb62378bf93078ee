#include "core/Password.h"
#include "core/Schema.h"

namespace core::schema {

void AddWorkerSchema(const platform::Database& sw, const platform::Database& cur, int model) {
    (void)cur;
    (void)model;
    sw.execute("CREATE TABLE Worker (WorkerID TEXT(4) NOT NULL PRIMARY KEY, WorkerName TEXT(20), "
               "workgrade INTEGER NOT NULL DEFAULT 0, passcode TEXT(40), rightlist TEXT(255), "
               "b_active BOOLEAN NOT NULL DEFAULT 0)");
    sw.execute("CREATE TABLE rightlist (rightid LONG NOT NULL PRIMARY KEY, rightname TEXT(50))");

    // Every right a command checks, named after what it guards.
    static const char* const kRights[] = {
        "全部权限",       // 0: every right; the protocol trace window
        "协议跟踪收发",   // 1
        "员工管理",       // 2
        "帐号参数",       // 3
        "板卡设置",       // 4
        "分机号码",       // 5: the address, head and number columns of extensions; grid editing
        "分机参数",       // 6
        "用户管理",       // 7
        "中继参数",       // 8
        "市话字头",       // 9
        "本机字头",       // 10
        "缩位字头",       // 11
        "附加字头",       // 12
        "路由设置",       // 13
        "集团电话费率",   // 14
        "集团电话时段",   // 15
        "折价设置",       // 16
        "普通费率",       // 17
        "IP费率及字头",   // 18
        "数据库管理",     // 19
        "话单管理",       // 20
        "系统参数",       // 21
        "用户结算",       // 22
        "话单查询",       // 23
        "操作历史记录",   // 24
        "叫醒服务记录",   // 25
        "初始化交换机",   // 26
        "复位交换机",     // 27
        "握手",           // 28
        "IP公话参数",     // 29
        "上传话单",       // 30
        "分机押金参数",   // 31
        "站点管理",       // 32
    };
    for (int i = 0; i < int(std::size(kRights)); ++i)
        sw.execute("INSERT INTO rightlist VALUES(?,?)", {i, QString::fromUtf8(kRights[i])});

    // The first worker holds every right; his password is his number.
    sw.execute("INSERT INTO Worker VALUES(?,?,?,?,?,0)",
               {QStringLiteral("0000"), QStringLiteral("管理员"), 3, ModGeneral::ScramblePassword(QStringLiteral("0000")),
                QStringLiteral("0")});
}

}  // namespace core::schema
