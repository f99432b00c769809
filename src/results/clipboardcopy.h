#pragma once

#include <QString>

#include <functional>
#include <optional>

class Clipboard;
class ListViewModel;

// Tries up to this many times in all before a clipboard call gives up.
inline constexpr int ClipboardAttempts = 1000;

// The clipboard text of a list: one line per checked row, each cell padded with spaces to the
// widest cell of its column over all rows (checked or not) and followed by a tab; at the end of
// a line the last tab is dropped, trailing spaces are stripped and CR LF follows. Nothing when
// the list has no rows. `yield` runs before every cell read (callers pass a TimeSlice).
// A row or column that vanishes under a yield throws RuntimeError.
std::optional<QString> ListViewClipboardText(const ListViewModel &list,
                                             const std::function<void()> &yield = {});

// Puts that text on the clipboard: cleared first, then set. A list without rows leaves the
// clipboard as it is; a failure while the text is built leaves it as it is too.
void ListViewToClipboard(const ListViewModel &list, Clipboard &clipboard,
                         const std::function<void()> &yield = {});

// Both try again at once after a failed attempt, up to ClipboardAttempts in all; whatever the
// clipboard throws counts as a failed attempt and goes no further.
void ClearClipboardWithRetry(Clipboard &clipboard);
// True when the text was placed. The clipboard holds plain text only, so every format number
// gives plain text; 0 names it.
bool SetClipboardTextWithRetry(Clipboard &clipboard, const QString &text, int format = 0);
