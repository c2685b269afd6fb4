// The user's remembered choices and upload-account values, kept in the registry layer under
// Software\Quorrel\tolvane (current user), plus the read-only installation values of the machine
// hive (AppPath, HomeURL, SkyletURL).
//
// Every part of the program owns its own copy: `load` fills it whole, each setter updates one field
// and then writes that one value. Registry failures are silent: loading falls back to the defaults,
// writing leaves the registry as it was while the copy keeps the new value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tolvane {

// The registry key of the user's values and of the machine-wide values.
inline constexpr std::string_view kSettingsKey = "Software\\Quorrel\\tolvane";

// Defaults of a first run.
inline constexpr std::string_view kRingtoneSubfolder = "/My Ringtones";
inline constexpr std::string_view kDefaultDelivery = "WAP";

class Settings {
public:
    // Which setters write through to the registry. A copy that must never change the stored
    // choices (the batch front end) uses AccountOnly: the upload account still persists, since a
    // created account must not be lost, but the wizard's choices stay as they were.
    enum class Persistence { All, AccountOnly, None };

    // Defaults, not yet loaded: folder empty, save and send 1, delivery "WAP", everything else 0
    // or empty.
    Settings();

    // Fills the record from the registry. Creates the user key on a first run; when it cannot be
    // created nothing is loaded and the record keeps what it held.
    void load();

    void setPersistence(Persistence p) { persistence_ = p; }
    Persistence persistence() const { return persistence_; }

    // User-side values. Each updates the field, then writes the one registry value (the key is
    // opened, never created, here).
    void setFolder(std::string_view folder);
    void setVendorPosition(std::int32_t position);
    void setModelPosition(std::int32_t position);
    void setFormat(std::int32_t formatIndex);
    void setSave(std::int32_t save);
    void setSend(std::int32_t send);
    void setCarrier(std::int32_t carrierId);
    void setDelivery(std::string_view method);
    void setPhoneNumber(std::string_view number);
    void setEmail(std::string_view address);
    void setAccountNumber(std::string_view number);
    void setAccountStatus(std::int32_t status);
    void setAccountPassword(std::string_view password);
    void setCreationDateLow(std::uint32_t low);
    void setCreationDateHigh(std::uint32_t high);
    // Fade lengths in milliseconds, 0 for none (the default: ringtones without fades).
    void setFadeInMs(std::uint32_t ms);
    void setFadeOutMs(std::uint32_t ms);
    // The folder the Add files dialog showed last (empty until files were added once).
    void setSourceFolder(std::string_view folder);

    std::string folder() const { return folder_; }
    std::int32_t vendorPosition() const { return vendorPosition_; }
    std::int32_t modelPosition() const { return modelPosition_; }
    std::int32_t format() const { return format_; }
    std::int32_t save() const { return save_; }
    std::int32_t send() const { return send_; }
    std::int32_t carrier() const { return carrier_; }
    std::string delivery() const { return delivery_; }
    std::string phoneNumber() const { return phoneNumber_; }
    std::string email() const { return email_; }
    std::string accountNumber() const { return accountNumber_; }
    std::int32_t accountStatus() const { return accountStatus_; }
    std::string accountPassword() const { return accountPassword_; }
    std::uint32_t creationDateLow() const { return creationDateLow_; }
    std::uint32_t creationDateHigh() const { return creationDateHigh_; }
    std::uint32_t fadeInMs() const { return fadeInMs_; }
    std::uint32_t fadeOutMs() const { return fadeOutMs_; }
    std::string sourceFolder() const { return sourceFolder_; }

    // Machine-wide, read-only. HomeURL and SkyletURL are read only when AppPath exists.
    std::string homeUrl() const { return homeUrl_; }
    std::string appPath() const { return appPath_; }
    std::string skyletUrl() const { return skyletUrl_; }

private:
    enum class Kind { Choice, Account };
    void writeString(Kind kind, std::string_view name, std::string_view value) const;
    void writeNumber(Kind kind, std::string_view name, std::uint32_t value) const;
    bool writesThrough(Kind kind) const;

    std::string folder_;
    std::int32_t vendorPosition_ = 0;
    std::int32_t modelPosition_ = 0;
    std::int32_t format_ = 0;
    std::int32_t save_ = 1;
    std::int32_t send_ = 1;
    std::int32_t carrier_ = 0;
    std::string delivery_{kDefaultDelivery};
    std::string phoneNumber_;
    std::string email_;
    std::string accountNumber_;
    std::int32_t accountStatus_ = 0;
    std::string accountPassword_;
    std::uint32_t creationDateLow_ = 0;
    std::uint32_t creationDateHigh_ = 0;
    std::uint32_t fadeInMs_ = 0;
    std::uint32_t fadeOutMs_ = 0;
    std::string sourceFolder_;
    std::string homeUrl_;
    std::string appPath_;
    std::string skyletUrl_;

    Persistence persistence_ = Persistence::All;
};

}  // namespace tolvane
