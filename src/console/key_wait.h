// Reading keys: from standard input once the terminal is started, decoded,
// with the screen kept up to date while the program waits; before that,
// from the bytes given to FeedKeyBytes.
#pragma once

#include "console/keys.h"

// The next key. Returns false when the input has ended.
bool NextKey(Key& key);
// Forgets the bytes fed and any key half decoded.
void ClearKeyBytes();
