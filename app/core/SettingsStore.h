// Per-user persistent store of the settings: named values "Group/Name" holding text.
//
// The file store keeps the values in an INI-style file ([Group] sections, Name=value lines) under
// $XDG_CONFIG_HOME/tessaro/settings.ini. Writes happen under an advisory lock, re-read the file
// first (so two processes do not lose each other's keys), and replace the file atomically. A file
// that cannot be read or parsed reads as empty; before it is written over it is kept as
// settings.ini.corrupt and the problem is reported.
#pragma once

#include <functional>
#include <map>
#include <string>

namespace tessaro {

// "Group/Name" -> stored text.
using SettingsMap = std::map<std::string, std::string>;

class SettingsStore {
  public:
    virtual ~SettingsStore() = default;

    // Every stored value; an unreadable store reads as empty.
    virtual SettingsMap ReadAll() = 0;

    // Runs `edit` over the current values under the store's lock and saves the result when it
    // differs from what was stored (nothing is rewritten otherwise). False when the store could not
    // be written; the reason is reported through the problem handler.
    virtual bool Update(const std::function<void(SettingsMap&)>& edit) = 0;

    // Receives warnings about the store (corrupt file kept aside, write refused, ...).
    void SetProblemHandler(std::function<void(const std::string&)> handler) { problem_ = std::move(handler); }

  protected:
    void Report(const std::string& message) const {
        if (problem_) problem_(message);
    }

  private:
    std::function<void(const std::string&)> problem_;
};

// Values held in memory only (tests, and the base of run-only overrides).
class MemorySettingsStore : public SettingsStore {
  public:
    explicit MemorySettingsStore(SettingsMap values = {}) : values_(std::move(values)) {}
    SettingsMap ReadAll() override { return values_; }
    bool Update(const std::function<void(SettingsMap&)>& edit) override;
    int WriteCount() const { return writes_; }

  private:
    SettingsMap values_;
    int writes_ = 0;
};

// Reads through to a base store with some values replaced for this run; writes go to the base.
class OverlaySettingsStore : public SettingsStore {
  public:
    OverlaySettingsStore(SettingsStore& base, SettingsMap overrides)
        : base_(base), overrides_(std::move(overrides)) {}
    SettingsMap ReadAll() override;
    bool Update(const std::function<void(SettingsMap&)>& edit) override { return base_.Update(edit); }

  private:
    SettingsStore& base_;
    SettingsMap overrides_;
};

class FileSettingsStore : public SettingsStore {
  public:
    explicit FileSettingsStore(std::string path) : path_(std::move(path)) {}
    SettingsMap ReadAll() override;
    bool Update(const std::function<void(SettingsMap&)>& edit) override { return Write(edit, false); }
    // Removes every stored setting; a damaged file is moved aside and a clean one written.
    bool Reset() {
        return Write([](SettingsMap& values) { values.clear(); }, true);
    }
    const std::string& Path() const { return path_; }

  private:
    // An unchanged file is not touched, unless `rewriteDamaged` and it is damaged.
    bool Write(const std::function<void(SettingsMap&)>& edit, bool rewriteDamaged);
    std::string path_;
};

// $XDG_CONFIG_HOME/tessaro/settings.ini, with ~/.config when the variable is unset or not absolute.
std::string DefaultSettingsPath();

// The text form of the file. Parse returns false for text that is not a settings file.
std::string SerializeSettings(const SettingsMap& values);
// Reads the lines it understands into `values`; false when any line was not understood (their
// count goes to `badLines`) or the text is not a settings file at all.
bool ParseSettings(const std::string& text, SettingsMap* values, int* badLines = nullptr);

}  // namespace tessaro
