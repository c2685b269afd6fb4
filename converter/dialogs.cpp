#include "converter/dialogs.h"

#include "converter/lifetime.h"

namespace kessin {

using tolvane::platform::kWmCommand;

namespace {

constexpr std::uint32_t kWmClose = 0x0010;

}  // namespace

std::string cutUtf8(std::string text, std::size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text;
    std::size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    text.resize(end);
    return text;
}

Dialog::~Dialog() {
    if (handle_ != 0)
        owner_.destroy(handle_);
}

int Dialog::runModal() {
    {
        WindowOwner::Batch batch(owner_);
        handle_ = owner_.create(0, windowText(), [this](const PostedMessage& m) { dispatch(m); });
        initialise();
    }
    // A dialog whose program is asked to stop ends unanswered, and so does every dialog around
    // it, down to the main window: the program then leaves through its ordinary exit.
    while (!ended_ && !stopRequested())
        owner_.dispatchOne(kStopPollMs);
    owner_.destroy(handle_);
    handle_ = 0;
    controls_.clear();
    return result_;
}

void Dialog::end(int result) {
    if (ended_)
        return;
    ended_ = true;
    result_ = result;
}

void Dialog::endWithParent(int result) {
    end(result);
    // The parent's own loop notices once control returns to it.
    if (parent_ != nullptr)
        parent_->end(result);
}

void Dialog::addControl(int id, std::string caption) {
    controls_[id] = owner_.create(handle_, std::move(caption));
}

void Dialog::setControlText(int id, std::string text) {
    const auto it = controls_.find(id);
    if (it != controls_.end())
        owner_.setText(it->second, std::move(text));
}

void Dialog::dispatch(const PostedMessage& message) {
    if (ended_)
        return;  // a dialog that has ended takes no more commands
    if (message.message == kWmCommand)
        onCommand(int(message.wparam & 0xFFFF));
    else if (message.message == kWmClose)
        onCommand(kIdCancel);
    else
        onMessage(message);
}

OptionsDialog::OptionsDialog(WindowOwner& owner, Dialog* parent, std::string title,
                             std::string copyright, std::uint32_t inputRate)
    : Dialog(owner, parent),
      title_(cutUtf8(std::move(title), kMaxTextBytes)),
      copyright_(cutUtf8(std::move(copyright), kMaxTextBytes)),
      inputRate_(inputRate) {}

void OptionsDialog::initialise() {
    // Below 8000 Hz only the 4 kHz rate can be offered.
    if (inputRate_ >= 4000 && inputRate_ < 8000) {
        fs8k_ = kUnavailable;
        fs4k_ = kOn;
    } else if (inputRate_ >= 8000) {
        fs8k_ = kOn;
    }
    addControl(kIdTitleEdit, title_);
    addControl(kIdCopyrightEdit, copyright_);
    addControl(kIdOk, "OK");
    addControl(kIdCancel, "CANCEL");
    addControl(kIdClear, "CLEAR");
    addControl(kIdPower, "Power");
    addControl(kIdSave, "save");
    addControl(kIdTrans, "trans");
    addControl(kIdFs8k, "fs8k");
    addControl(kIdFs4k, "fs4k");
}

void OptionsDialog::onCommand(int id) {
    switch (id) {
        case kIdSave:
            // Turning saving off also forbids transfer.
            if (save_ == kOff) {
                save_ = kOn;
            } else if (save_ == kOn) {
                save_ = kOff;
                if (trans_ == kOn)
                    trans_ = kOff;
            }
            break;
        case kIdTrans:
            // Transfer is only possible together with saving.
            if (trans_ == kOn) {
                trans_ = kOff;
            } else if (trans_ == kOff) {
                trans_ = kOn;
                if (save_ == kOff)
                    save_ = kOn;
            }
            break;
        case kIdFs4k:
            if (fs4k_ == kOff) {
                fs4k_ = kOn;
                fs8k_ = kOff;
            }
            break;
        case kIdFs8k:
            if (fs8k_ == kOff) {
                fs8k_ = kOn;
                fs4k_ = kOff;
            }
            break;
        case kIdClear:
            title_.clear();
            copyright_.clear();
            setControlText(kIdTitleEdit, "");
            setControlText(kIdCopyrightEdit, "");
            break;
        case kIdOk:
            chosenRate_ = fs4k_ == kOn ? 4000 : 8000;
            copyStatus_ = std::uint8_t((save_ == kOff ? 2 : 0) | (trans_ == kOff ? 1 : 0));
            end(kIdOk);
            break;
        case kIdCancel:
            end(kIdCancel);
            break;
        case kIdPower:
            endWithParent(kIdPower);
            break;
        default:
            break;
    }
}

void ResultDialog::initialise() {
    addControl(kIdMessage, "Message Space");
    addControl(kIdPicture, success_ ? "success" : "error");
    addControl(kIdOk, "OK");
    addControl(kIdPower, "Power");
    setControlText(kIdMessage, text_);
}

void ResultDialog::onCommand(int id) {
    if (id == kIdOk)
        end(kIdOk);
    if (id == kIdPower)
        endWithParent(kIdPower);
}

void AboutDialog::initialise() {
    addControl(1000, "Kessin SMAF converter, version 1.0");
    addControl(kIdOk, "OK");
    addControl(kIdPower, "Power");
}

void AboutDialog::onCommand(int id) {
    if (id == kIdOk)
        end(kIdOk);
    if (id == kIdPower)
        endWithParent(kIdPower);
}

void MainWindow::initialise() {
    addControl(kIdOk, "OK");
    addControl(kIdAbout, "about");
    addControl(1002, "");
    addControl(1000, "");
}

void MainWindow::onCommand(int id) {
    if (id == kIdOk) {
        end(kIdOk);
    } else if (id == kIdAbout && !aboutOpen_) {
        // The about box runs a nested loop that dispatches this window's messages too: another
        // "about" while it is open would open a box inside the box, without end.
        aboutOpen_ = true;
        AboutDialog about(owner(), this);
        about.runModal();
        aboutOpen_ = false;
    }
    // 1015 (Power) has no handler on the main window.
}

void MainWindow::onMessage(const PostedMessage& message) {
    // One conversion at a time: a second 1075 arriving while a conversion's dialogs are open
    // would otherwise start a conversion inside the conversion.
    if (message.message != kMsgConvert || converting_)
        return;
    converting_ = true;
    convert_(*this);
    converting_ = false;
}

}  // namespace kessin
