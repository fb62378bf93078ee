// Small files that record what the station is doing: written whole or not at
// all, and read back strictly.
#include "platform/Files.h"

#include "support/Fixtures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <gtest/gtest.h>

namespace {

using testsupport::bytesOf;

TEST(DurableFiles, AFailedWriteSyncOrRenameLeavesTheFormerFileAndNothingBeside) {
    QTemporaryDir d;
    const QString mark = d.filePath("x.pending-restore");
    ASSERT_TRUE(platform::writeFileDurably(mark, "first\n"));
    for (const char* step : {"write", "sync", "rename"}) {
        SCOPED_TRACE(step);
        platform::testing::setFaultHook([step](const QString& op, const QString&) { return op == step ? ENOSPC : 0; });
        QString error;
        EXPECT_FALSE(platform::writeFileDurably(mark, "second\n", &error));
        platform::testing::setFaultHook(nullptr);
        EXPECT_TRUE(error.contains("磁盘已满")) << error.toStdString();
        EXPECT_EQ(bytesOf(mark), "first\n");
        EXPECT_EQ(QDir(d.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }
    QByteArray read;
    EXPECT_EQ(platform::readFileStrictly(mark, &read), platform::ReadState::Read);
    EXPECT_EQ(read, "first\n");
    EXPECT_EQ(platform::readFileStrictly(d.filePath("none"), &read), platform::ReadState::Missing);
    // A mark that exists but cannot be read is not taken for an absent one.
    ASSERT_TRUE(QDir().mkpath(d.filePath("dir.mark")));
    EXPECT_EQ(platform::readFileStrictly(d.filePath("dir.mark"), &read), platform::ReadState::Unreadable);
}

// A read that fails part of the way (a bad sector after the file's first
// bytes) is a failure with its cause, never the bytes before it as the whole
// file; a file larger than one read is read to its end.
TEST(DurableFiles, AReadFailingPartOfTheWayIsUnreadableNeverAShorterFile) {
    QTemporaryDir d;
    const QString path = d.filePath("queue.dat");
    QByteArray big(200 * 1024, '\0');
    for (int i = 0; i < big.size(); ++i) big[i] = char(i * 7);
    ASSERT_TRUE(platform::writeFileDurably(path, big));
    for (const int failing : {1, 2, 4}) {
        SCOPED_TRACE(failing);
        int reads = 0;
        platform::testing::setFaultHook([&](const QString& op, const QString& p) {
            return op == QLatin1String("read") && p == path && ++reads == failing ? EIO : 0;
        });
        platform::clearFileError();
        QByteArray read("before");
        EXPECT_EQ(platform::readFileStrictly(path, &read), platform::ReadState::Unreadable);
        platform::testing::setFaultHook(nullptr);
        EXPECT_EQ(read, "before");
        EXPECT_EQ(platform::lastFileError(), QStringLiteral("磁盘读写错误"));
    }
    QByteArray read;
    EXPECT_EQ(platform::readFileStrictly(path, &read), platform::ReadState::Read);
    EXPECT_EQ(read, big);
}

}  // namespace
