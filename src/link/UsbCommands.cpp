#include "link/UsbCommands.h"

#include "core/ModDefine.h"
#include "core/ModGeneralText.h"
#include "core/Notices.h"
#include "core/frmProgress.h"
#include "link/FrameCodes.h"
#include "link/FrameReader.h"
#include "link/ModComm.h"
#include "platform/AppExit.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Prompts.h"
#include "pricing/BillFile.h"

#include <cmath>

namespace UsbCommands {

namespace {

void send(const QString& order) { ModComm::SendOrder(order, false, 4, true); }

bool ask(QByteArray& answer, const QString& code) {
    return ModComm::GetOrder(answer, code, false, QString(), 5) == ModComm::GotAnswer;
}

void mainEnabled(bool on) { core::HoldStation(!on); }

void notice(const QString& text) { core::Notify(text, platform::mbOKOnly, AppName); }

void closeProgress() {
    if (frmProgress::exists()) frmProgress::unload();
}

// A number as the operator typed it: finite, with nothing else around it.
bool numericAnswer(const QString& text, double* value) {
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v)) return false;
    *value = v;
    return true;
}

}  // namespace

int DecodePointer(const QByteArray& answer, int first) {
    // The bytes a short answer lacks count as 0.
    const ModComm::FrameReader f(ModComm::FrameReader::Padded(answer, first + 3, 0));
    return f.word(first) * 16 + f.byte(first + 2);
}

QString BillFilePath() { return pricing::billfile::Path(); }

bool CheckUSBID() { return true; }

void GetUsbId() {
    mainEnabled(false);
    try {
        QByteArray answer;
        send(FrameCode::kUsbGetId);
        if (ask(answer, FrameCode::kUsbCmd)) {
            const int id = answer.size() > 4 ? ModComm::FrameReader(answer).word(3) : 0;
            notice(QStringLiteral("USB编号是 ") + QString::number(id));
        } else {
            notice(QStringLiteral("读取USB编号失败"));
        }
    } catch (const platform::ProgramEnded&) {
        throw;
    } catch (...) {
    }
    mainEnabled(true);
}

bool ClearUSB() {
    bool result = false;
    try {
        frmProgress::instance().LoadProgress(QStringLiteral("正在删除USB数据..."), false, 60, 0, true);
        send(FrameCode::kUsbClear);
        for (int round = 0; round < 6 && !result; ++round) {
            ModGeneral::Delay(5000);
            send(FrameCode::kUsbGetPointers);
            QByteArray answer;
            if (ask(answer, FrameCode::kUsbPointers) && answer.size() >= 12 && answer.mid(3, 3) == answer.mid(6, 3) &&
                answer.mid(6, 3) == answer.mid(9, 3))
                result = true;
        }
    } catch (const platform::ProgramEnded&) {
        closeProgress();
        throw;
    } catch (...) {
    }
    closeProgress();
    return result;
}

void ClearCommand() {
    if (core::Notify(QStringLiteral("Usb 将丢失所有数据,要清除吗!"),
                         platform::mbYesNo | platform::mbExclamation | platform::mbDefaultButton2, AppName) != platform::rYes)
        return;
    mainEnabled(false);
    send(FrameCode::kMonitorOff);
    const bool ok = ClearUSB();
    notice(QStringLiteral("USB清除") + (ok ? QStringLiteral("成功") : QStringLiteral("失败")));
    mainEnabled(true);
    ModComm::SetMonitor(true);
}

void SetUsbId(const QString& caption) {
    bool given = false;
    const QString text = platform::InputBox(
        QStringLiteral("系统将清除USB数据,不清除请按<取消>,否则请输入USB编号(站点编号):"), caption,
        QString::number(TerminalID), &given);
    double value = 0;
    if (!given || text.trimmed().isEmpty() || !numericAnswer(text, &value)) return;
    QString error;
    try {
        mainEnabled(false);
        send(FrameCode::kPauseReports);
        send(FrameCode::kMonitorOff);
        if (!ClearUSB()) {
            notice(QStringLiteral("清除USB失败"));
        } else {
            // Only the low 16 bits travel, and they are what the collector keeps.
            const qint64 n = static_cast<qint64>(std::llround(value));
            const quint16 sent = static_cast<quint16>(n & 0xFFFF);
            send(FrameCode::kUsbSetId + ModComm::LongToHex(sent, 4) + QStringLiteral("00"));
            QByteArray answer;
            if (!ask(answer, FrameCode::kUsbCmd)) throw std::runtime_error("");
            notice(QStringLiteral("USB设置编号为") + QString::number(sent));
        }
        ModComm::SetMonitor(true);
        send(FrameCode::kResumeReports);
        mainEnabled(true);
        return;
    } catch (const platform::ProgramEnded&) {
        throw;
    } catch (const std::exception& e) {
        error = platform::OperatorText(e);
    } catch (...) {
    }
    mainEnabled(true);
    notice(QStringLiteral("设置USB编号失败 ") + error);
    ModComm::SetMonitor(true);
    send(FrameCode::kResumeReports);
}

void ReadUsb(int mode) {
    if (!CheckUSBID()) return;
    // Records of an earlier read that could not be stored yet are stored
    // first: a new read replaces their file only when none waits.
    int waiting = pricing::billfile::BeforeRead();
    if (waiting > 0) {
        notice(QStringLiteral("读取USB话单失败:") + pricing::billfile::WaitingText(waiting));
        return;
    }
    send(FrameCode::kMonitorOff);
    pricing::billfile::Writer file;
    pricing::billfile::Report report;
    int expected = 0;
    int read = 0;
    bool collecting = false;   // the count is known and records may have been written
    bool failed = false;
    try {
        mainEnabled(false);
        QByteArray answer;
        send(FrameCode::kUsbGetPointers);
        if (!ask(answer, FrameCode::kUsbPointers)) throw std::runtime_error("no pointers");
        // Read in mode 2, the new records are charged as live ones.
        if (!file.start(mode == 2, &waiting, QStringLiteral("bill.dat"))) throw std::runtime_error("bill.dat");
        int p1 = DecodePointer(answer, 3);
        const int p2 = DecodePointer(answer, 6);
        const int p3 = DecodePointer(answer, 9);
        if (g_TestMode) {
            bool given = false;
            const QString text =
                platform::InputBox(QStringLiteral("请输入要上传的起始地址:"), AppName, QStringLiteral("512"), &given);
            double value = 0;
            if (!given || text.trimmed().isEmpty() || !numericAnswer(text, &value) || value < 512) {
                file.close();
                pricing::billfile::Price();   // an empty file waits for nothing
                send(FrameCode::kUsbReadEnd);
                send(FrameCode::kResumeReports);
                ModComm::SetMonitor(true);
                mainEnabled(true);
                return;
            }
            p1 = static_cast<int>(std::llround(value));
        }
        expected = mode == 2 ? p3 - p2 : p3 - p1;
        if (expected > 0) frmProgress::instance().LoadProgress(QStringLiteral("读取USB话单"), true, expected, 0, false);
        if (g_TestMode)
            send(FrameCode::kUsbReadFrom + ModComm::LongToHex(p1 / 16, 4) +
                 ModComm::ByteToHex(static_cast<quint8>(p1 % 16)));
        else
            send(FrameCode::kUsbReadStart + QString::number(mode) + QStringLiteral("000000"));
        collecting = true;
        for (int i = 0; i <= expected; ++i) {
            if (frmProgress::exists() && frmProgress::instance().bStop) break;
            QByteArray record;
            if (ModComm::GetOrder(record, FrameCode::kCallRecord, false, QString(), 5) != ModComm::GotAnswer) break;
            // On the disk before the collector hears that it may forget the record.
            if (!file.append(record)) throw std::runtime_error("bill.dat");
            ++read;
            send(FrameCode::kAckStored);
            if (frmProgress::exists()) frmProgress::instance().setpValue(-1, QString());
        }
        send(FrameCode::kUsbReadEnd);
        closeProgress();
    } catch (const platform::ProgramEnded&) {
        closeProgress();
        throw;
    } catch (...) {
        failed = true;
        closeProgress();
        send(FrameCode::kUsbReadEnd);
    }
    file.close();
    if (failed && !collecting) {
        mainEnabled(true);
        notice(QStringLiteral("读取USB话单失败"));
        send(FrameCode::kResumeReports);
        ModComm::SetMonitor(true);
        return;
    }

    // Every record written is priced, also when the read ended early; the
    // priced ones are neither answered again nor sent a fee order.
    waiting = 0;
    try {
        if (read > 0) {
            frmProgress::instance().LoadProgress(QStringLiteral("正在计算话费..."), false, read - 1, 0, false);
            ModGeneral::Delay(10);
        }
        waiting = pricing::billfile::Price([] {
            if (frmProgress::exists()) frmProgress::instance().setpValue(-1, QString());
        }, &report);
    } catch (const platform::ProgramEnded&) {
        closeProgress();
        throw;
    } catch (...) {
        waiting = pricing::billfile::Waiting();
    }
    closeProgress();
    send(FrameCode::kResumeReports);
    ModComm::SetMonitor(true);
    if (waiting > 0)
        notice(QStringLiteral("读取USB话单失败:") + pricing::billfile::WaitingText(waiting));
    else if (!report.stopped.isEmpty())
        notice(QStringLiteral("读取USB话单失败:") + report.stopped);
    else if (failed || read < expected)
        notice(QStringLiteral("读取USB话单未完成:") + QString::number(read) + QStringLiteral("/") +
               QString::number(qMax(expected, 0)) +
               (report.rejected > 0 ? QStringLiteral("，") + pricing::billfile::RejectText(report) : QString()));
    else if (report.rejected > 0)
        notice(QStringLiteral("读取USB话单成功，") + pricing::billfile::RejectText(report));
    else
        notice(QStringLiteral("读取USB话单成功"));
    mainEnabled(true);
}

}  // namespace UsbCommands
