#pragma once
// Checks of the texts a box or a recovery gives: a failure shows the whole text.
#include <QString>
#include <gtest/gtest.h>

namespace testsupport {

inline ::testing::AssertionResult holds(const QString& text, const QString& part) {
    if (text.contains(part)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no \"" << part.toStdString() << "\" in:\n" << text.toStdString();
}
inline ::testing::AssertionResult lacks(const QString& text, const QString& part) {
    if (!text.contains(part)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << part.toStdString() << "\" in:\n" << text.toStdString();
}

}  // namespace testsupport
