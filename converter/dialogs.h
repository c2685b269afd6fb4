// kessin's windows: logical windows on the window bus whose controls are child windows carrying
// their captions, so that another process can find a dialog by a control's text and press its
// buttons by posting WM_COMMAND with the control's id. Nothing is drawn: the windows have the
// size of a one-pixel background picture, so there is no geometry to keep.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "platform/window_bus.h"

namespace kessin {

using tolvane::platform::WindowHandle;
using tolvane::platform::window_bus::PostedMessage;
using tolvane::platform::window_bus::WindowOwner;

// Control ids shared by the dialogs.
enum ControlId : int {
    kIdOk = 1,
    kIdCancel = 2,
    kIdClear = 1000,
    kIdTitleEdit = 1001,
    kIdCopyrightEdit = 1002,
    kIdPower = 1015,
    kIdTrans = 1023,
    kIdFs4k = 1024,
    kIdPicture = 1025,
    kIdMessage = 1026,
    kIdAbout = 1029,
    kIdFs8k = 1030,
    kIdSave = 1031,
};

// Message that starts a conversion on the main window.
constexpr std::uint32_t kMsgConvert = 1075;

// A modal dialog: created, run in its own (nested) message loop until it ends, destroyed.
class Dialog {
public:
    Dialog(WindowOwner& owner, Dialog* parent) : owner_(owner), parent_(parent) {}
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Creates the window and its controls and dispatches messages until end() is called.
    // Returns the value given to end().
    int runModal();
    void end(int result);
    bool ended() const { return ended_; }
    WindowHandle handle() const { return handle_; }

protected:
    // Adds the controls (child windows) and sets the initial state.
    virtual void initialise() = 0;
    virtual void onCommand(int id) = 0;
    virtual void onMessage(const PostedMessage&) {}
    virtual std::string windowText() const { return {}; }

    void addControl(int id, std::string caption);
    void setControlText(int id, std::string text);
    // Power: ends this dialog and the main dialog it was opened from.
    void endWithParent(int result);
    WindowOwner& owner() { return owner_; }

private:
    void dispatch(const PostedMessage& message);

    WindowOwner& owner_;
    Dialog* parent_;
    WindowHandle handle_ = 0;
    std::map<int, WindowHandle> controls_;
    bool ended_ = false;
    int result_ = 0;
};

// The options of one conversion: title, copyright, the target rate and the copy status.
class OptionsDialog : public Dialog {
public:
    // Each text takes at most this many bytes (it has to fit a 257-byte slot with its NUL).
    static constexpr std::size_t kMaxTextBytes = 256;
    enum SwitchState : int { kOff = 0, kOn = 1, kUnavailable = 2 };

    OptionsDialog(WindowOwner& owner, Dialog* parent, std::string title, std::string copyright,
                  std::uint32_t inputRate);

    const std::string& title() const { return title_; }
    const std::string& copyright() const { return copyright_; }
    int chosenRate() const { return chosenRate_; }
    std::uint8_t copyStatus() const { return copyStatus_; }

protected:
    void initialise() override;
    void onCommand(int id) override;

private:
    std::string title_;
    std::string copyright_;
    std::uint32_t inputRate_;
    int chosenRate_ = 8000;
    std::uint8_t copyStatus_ = 0;
    int save_ = kOn;
    int trans_ = kOn;
    int fs8k_ = kOff;
    int fs4k_ = kOff;
};

// The outcome of a conversion: "SMAF File Size : …" or an error text.
class ResultDialog : public Dialog {
public:
    ResultDialog(WindowOwner& owner, Dialog* parent, std::string text, bool success)
        : Dialog(owner, parent), text_(std::move(text)), success_(success) {}

protected:
    void initialise() override;
    void onCommand(int id) override;

private:
    std::string text_;
    bool success_;
};

class AboutDialog : public Dialog {
public:
    using Dialog::Dialog;

protected:
    void initialise() override;
    void onCommand(int id) override;
};

// The main dialog, titled "KESSIN", alive for the life of the process. Message 1075 runs one
// conversion through `convert`, which opens the other dialogs from inside the handler.
class MainWindow : public Dialog {
public:
    static constexpr const char* kTitle = "KESSIN";

    MainWindow(WindowOwner& owner, std::function<void(MainWindow&)> convert)
        : Dialog(owner, nullptr), convert_(std::move(convert)) {}

protected:
    void initialise() override;
    void onCommand(int id) override;
    void onMessage(const PostedMessage& message) override;
    std::string windowText() const override { return kTitle; }

private:
    std::function<void(MainWindow&)> convert_;
    // Each dialog opened from a handler of this window is opened once at a time.
    bool converting_ = false;
    bool aboutOpen_ = false;
};

// Cuts a UTF-8 text to at most `maxBytes` bytes without splitting a character.
std::string cutUtf8(std::string text, std::size_t maxBytes);

}  // namespace kessin
