#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <vector>

class Clipboard;
class Pivot;

// Tries up to this many times in all before a clipboard call gives up.
inline constexpr int ClipboardAttempts = 1000;

// The clipboard text of a table: one line per checked row, each cell padded with spaces to the
// widest cell of its column over all rows (checked or not) and followed by a tab; at the end of
// a line the last tab is dropped, trailing spaces are stripped and CR LF follows. Nothing when
// the table has no rows. `yield` runs before the first row of each pass and then after every
// few thousand cells (callers pass a TimeSlice).
// Rows or columns that change under a yield throw RuntimeError.
std::optional<QString> ClipboardText(const Pivot &table, const std::vector<bool> &checked,
                                     const std::function<void()> &yield = {});

// Puts that text on the clipboard: cleared first, then set. A table without rows leaves the
// clipboard as it is; a failure while the text is built leaves it as it is too.
void TableToClipboard(const Pivot &table, const std::vector<bool> &checked, Clipboard &clipboard,
                      const std::function<void()> &yield = {});

// Both try again at once after a failed attempt, up to ClipboardAttempts in all; whatever the
// clipboard throws counts as a failed attempt and goes no further.
void ClearClipboardWithRetry(Clipboard &clipboard);
// True when the text was placed. The clipboard holds plain text only, so every format number
// gives plain text; 0 names it.
bool SetClipboardTextWithRetry(Clipboard &clipboard, const QString &text, int format = 0);
