#pragma once
// Passwords are stored scrambled: the text reversed, each character's code
// XORed with the two key letters' codes. Applying the function twice gives
// the text back.
#include <QString>

namespace ModGeneral {

// The key letters: fixed for the life of the database, since every stored
// password depends on them.
inline constexpr char kPasswordKey1 = 'Q';
inline constexpr char kPasswordKey2 = 'X';

QString ScramblePassword(const QString& text);
QString UnscramblePassword(const QString& text);

}  // namespace ModGeneral
