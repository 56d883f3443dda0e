// TMonitorWindow: the visible half of the device link, the "Pulsyn Monitor" window.
//
// It shows the traffic log, one line per write or read of the link, sent entries red and
// received entries green, with a Clear button and a Stay On Top check box, and saves the log
// as a Rich Text Format document.
//
// The log itself is the link's (TTrafficLog); the window holds no copy of it. Saving writes
// the log's entries as a Rich Text Format document.
// Windows: a real top-level window with a RichEdit control, created hidden on the thread
// that creates this object and living on it. Only a shown window holds text: showing fills
// the control with the log's newest entries, entries go on being appended while it is
// shown, and hiding empties it again. (A rich-text control can cost hundreds of bytes per
// character it holds, and inserting into a long text gets slow.)
// Elsewhere: a headless window; showing echoes the log, and every entry after it, to
// standard error (red and green on a terminal).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "link/TrafficLog.h"

namespace quor {

class TMonitorWindow {
public:
    // How many characters the shown control holds at most: the newest entries up to this,
    // refilled with the newest half when it is reached, the first line saying that older
    // entries are not shown.
    static constexpr size_t kDefaultCapacity = 32767;

    explicit TMonitorWindow(const TTrafficLog& Log);
    ~TMonitorWindow();
    TMonitorWindow(const TMonitorWindow&) = delete;
    TMonitorWindow& operator=(const TMonitorWindow&) = delete;

    // Shows the entry just appended to the log, at the end, in its colour, scrolled into
    // view (when the window is shown). The caller pumps messages afterwards.
    void Append(const TTrafficEntry& entry);
    // Empties the shown log (the log was emptied).
    void Clear();
    // Shows the window and brings it to the front (the first time at its stored place).
    void Show();
    // Writes the whole log to the file as Rich Text Format; an existing file is replaced.
    void Save(const std::string& fileNameUtf8);

    // What the user's Clear button asks for; the link empties its log, which clears this.
    // When empty, the button clears the shown log only.
    std::function<void()> OnClearClick;

    // The user's actions, as a click would do them.
    void ClickClear();
    void ClickStayOnTop();

    bool Visible() const;
    bool StayOnTop() const;
    // Whether the window exists (a window cannot be created without a display); when it
    // does not, Show and Save fail saying why.
    bool Available() const;
    // The window handle (HWND) on Windows; nullptr elsewhere.
    void* Handle() const;

    // The characters the shown control holds at most (see kDefaultCapacity); tests use
    // small ones. Headless: nothing is held, and these change nothing.
    size_t Capacity() const;
    void SetCapacity(size_t characters);

    // Headless only: where Show echoes to, and whether in colour (standard error, coloured
    // when it is a terminal, unless set here).
    void SetEchoForTesting(int fileDescriptor, bool colour);

    struct Impl;

private:
    std::unique_ptr<Impl> FImpl;
};

// Control identifiers of the window's children (the window's own layout).
enum TMonitorControlId : int {
    idRichEdit1 = 101,
    idCheckBox1 = 102,
    idSpeedButton1 = 103,
    idLabel4 = 104,
    idLabel7 = 105,
    idLabel5 = 106,
    idLabel6 = 107,
    idLabel8 = 108,
};

}  // namespace quor
