#pragma once
// The boxes a station shows: the prompts fresh as after a kill, and checks
// of the texts a box or a recovery gives (a failure shows the whole text).
#include "platform/Prompts.h"

#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

namespace testsupport {

// The prompts fresh, as after a kill; `answered` (when given) answered once.
inline void freshPrompts(const char* answered = nullptr) {
    platform::script::reset();
    platform::script::enable();
    if (answered) platform::script::answer(QString::fromUtf8(answered), platform::rOK);
}

inline ::testing::AssertionResult holds(const QString& text, const QString& part) {
    if (text.contains(part)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no \"" << part.toStdString() << "\" in:\n" << text.toStdString();
}
inline ::testing::AssertionResult lacks(const QString& text, const QString& part) {
    if (!text.contains(part)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << part.toStdString() << "\" in:\n" << text.toStdString();
}

// `text` holds every one of `parts`, or none of them.
inline ::testing::AssertionResult holdsAll(const QString& text, const QStringList& parts) {
    for (const QString& part : parts)
        if (!text.contains(part)) return holds(text, part);
    return ::testing::AssertionSuccess();
}
inline ::testing::AssertionResult lacksAll(const QString& text, const QStringList& parts) {
    for (const QString& part : parts)
        if (text.contains(part)) return lacks(text, part);
    return ::testing::AssertionSuccess();
}

}  // namespace testsupport
