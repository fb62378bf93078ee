#pragma once
// Checks of a text the operator is shown: on failure the whole text is
// printed, as the reader of a failed run needs it.
#include "platform/Prompts.h"

#include <QString>
#include <QStringList>
#include <gtest/gtest.h>
#include <initializer_list>

namespace testsupport {

// `text` holds every one of `parts`.
inline ::testing::AssertionResult holds(const QString& text, std::initializer_list<QString> parts) {
    for (const QString& p : parts)
        if (!text.contains(p)) return ::testing::AssertionFailure() << "no \"" << p.toStdString() << "\" in:\n" << text.toStdString();
    return ::testing::AssertionSuccess() << text.toStdString();
}
inline ::testing::AssertionResult holds(const QString& text, const QString& part) { return holds(text, {part}); }

// `text` holds none of `parts`.
inline ::testing::AssertionResult lacks(const QString& text, std::initializer_list<QString> parts) {
    for (const QString& p : parts)
        if (text.contains(p)) return ::testing::AssertionFailure() << "\"" << p.toStdString() << "\" in:\n" << text.toStdString();
    return ::testing::AssertionSuccess() << text.toStdString();
}
inline ::testing::AssertionResult lacks(const QString& text, const QString& part) { return lacks(text, {part}); }

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

// The prompts fresh, as after a kill; `answered` (when given) answered once.
inline void freshPrompts(const char* answered = nullptr) {
    platform::script::reset();
    platform::script::enable();
    if (answered) platform::script::answer(QString::fromUtf8(answered), platform::rOK);
}

// The text of the last box shown, empty when none was.
inline QString lastBox() {
    return platform::script::shown().isEmpty() ? QString() : platform::script::shown().last().text;
}

}  // namespace testsupport
