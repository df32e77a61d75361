// The settings record and its file store: defaults, clamps, normalisation, the no-rewrite rule,
// damaged and unwritable files, and concurrent writers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "Settings.h"
#include "SettingsStore.h"
#include "TestSupport.h"

namespace tessaro {
namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Spit(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

struct Problems {
    std::vector<std::string> messages;
    void Attach(SettingsStore& store) {
        store.SetProblemHandler([this](const std::string& m) { messages.push_back(m); });
    }
};

TEST(Settings, EmptyStoreGivesDefaults) {
    CodecSettings s = LoadSettings({});
    EXPECT_EQ(s.general.LogInfoCoder, 1);
    EXPECT_EQ(s.general.ShowSNR, 0);
    EXPECT_EQ(s.general.ShowProgress, 1);
    EXPECT_EQ(s.general.DeleteDecodedFile, 1);
    EXPECT_EQ(s.general.UseErrorConceal, 0);
    EXPECT_EQ(s.general.DefaultOutputFile, "");
    EXPECT_EQ(s.frameRateIndex, 0);
    const r263avo::EncoderParams& p = s.coder;
    EXPECT_EQ(p.SearchWindow, 15);
    EXPECT_EQ(p.PQuantizer, 13);
    EXPECT_EQ(p.IQuantizer, 5);
    EXPECT_EQ(p.RateControl, 0);
    EXPECT_EQ(p.Bitrate, 64000);
    EXPECT_EQ(p.FrameRateTarget, 30.0f);
    EXPECT_EQ(p.FrameRateActual, 1);
    EXPECT_EQ(p.FrameRateInput, 1);
    EXPECT_EQ(p.Speed, 1);
    EXPECT_EQ(p.GOBMode, 0);
    EXPECT_EQ(p.Threads, 0);  // one per processor core
    EXPECT_EQ(p.UseTrueBPictures, 0);
    EXPECT_EQ(p.BPictures, 3);
    EXPECT_EQ(p.BQuantizer, 13);
    EXPECT_EQ(p.ComputeSnr, 0);
}

TEST(Settings, StoredValuesAreClampedOnLoad) {
    struct Case {
        const char* key;
        const char* stored;
        int expected;
    };
    const Case cases[] = {
        {"Coder/Bitrate", "9000", 14400},
        {"Coder/Bitrate", "20000000", 10000000},
        {"Coder/Bitrate", "10000000", 10000000},  // eight digits read in full
        {"Coder/Bitrate", "128000", 128000},
        {"Coder/Bitrate", "-1", 64000},  // absent
        {"Coder/Bitrate", "99999999999999999999", 10000000},
        {"Coder/PQuantizer", "abc", 1},      // no digits reads as 0, then the lower bound
        {"Coder/PQuantizer", " 20xyz", 20},  // leading digits only
        {"Coder/SearchWindow", "-7", 0},
        {"Coder/Speed", "9", 5},
        {"Advanced/BPictures", "0", 1},
        {"General/ShowSNR", "7", 1},
        {"General/ShowSNR", "-3", 0},
        {"General/FrameRate", "8", 5},
        {"General/LogInfoCoder", "2", 1},
        {"Coder/Threads", "3", 3},
        {"Coder/Threads", "-4", 0},
        {"Coder/Threads", "500", 64},
        {"Coder/Threads", "-1", 0},
    };
    for (const Case& c : cases) {
        CodecSettings s = LoadSettings({{c.key, c.stored}});
        EXPECT_EQ(SettingText(s, *FindSetting(c.key)), std::to_string(c.expected))
            << c.key << "=" << c.stored;
    }
    EXPECT_EQ(LoadSettings({{"Coder/FrameRateTarget", "15"}}).coder.FrameRateTarget, 25.0f);
    EXPECT_EQ(LoadSettings({{"Coder/FrameRateTarget", "45"}}).coder.FrameRateTarget, 30.0f);
    EXPECT_EQ(LoadSettings({{"Coder/FrameRateTarget", "-1"}}).coder.FrameRateTarget, 30.0f);
    EXPECT_EQ(LoadSettings({{"Coder/FrameRateTarget", "25"}}).coder.FrameRateTarget, 25.0f);
    EXPECT_EQ(LoadSettings({{"General/ShowSNR", "7"}}).coder.ComputeSnr, 1);
}

TEST(Settings, ReinitTakesThePictureFacts) {
    CodecSettings s = LoadSettings({{"Coder/PQuantizer", "20"}});
    ReinitEncoderParams({{"Coder/PQuantizer", "9"}}, 1500, 3, 352, 288, &s);
    EXPECT_EQ(s.coder.StartFrame, 0);
    EXPECT_EQ(s.coder.EndFrame, 999);
    EXPECT_EQ(s.coder.FrameCount, 1500);
    EXPECT_EQ(s.coder.SourceFormat, 3);
    EXPECT_EQ(s.coder.MBlocksPerSlice, 22);
    EXPECT_EQ(s.coder.PQuantizer, 9);  // re-read from the store
    ReinitEncoderParams({}, 0, 6, 180, 100, &s);
    EXPECT_EQ(s.coder.EndFrame, 0);
    EXPECT_EQ(s.coder.MBlocksPerSlice, 11);
    ReinitEncoderParams({}, 10, 2, 176, 144, &s);
    EXPECT_EQ(s.coder.EndFrame, 9);
}

TEST(Settings, SavingNormalisesAndThenRewritesNothing) {
    MemorySettingsStore store({{"General/ShowSNR", "7"}, {"Coder/Bitrate", "9000"}});
    CodecSettings loaded = LoadSettings(store.ReadAll());
    ASSERT_TRUE(SaveSettings(store, loaded, loaded));
    SettingsMap after = store.ReadAll();
    EXPECT_EQ(after["General/ShowSNR"], "1");
    EXPECT_EQ(after["Coder/Bitrate"], "14400");
    EXPECT_EQ(after["Coder/FrameRateTarget"], "30");
    EXPECT_EQ(after.count("General/FrameRate"), 0u);  // not a value of the settings sheet
    EXPECT_EQ(store.WriteCount(), 1);
    CodecSettings again = LoadSettings(store.ReadAll());
    ASSERT_TRUE(SaveSettings(store, again, again));
    EXPECT_EQ(store.WriteCount(), 1);
}

// The thread count is a dialog value of the Coder group: saved beside the others, read back by
// the encode and capture jobs' parameter record.
TEST(Settings, ThreadsIsStoredAndLoadedLikeTheOtherCoderValues) {
    const SettingInfo* info = FindSetting("Coder/Threads");
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(info->dialog);
    MemorySettingsStore store;
    CodecSettings loaded = LoadSettings(store.ReadAll());
    CodecSettings edited = loaded;
    edited.coder.Threads = 2;
    ASSERT_TRUE(SaveSettings(store, loaded, edited));
    EXPECT_EQ(store.ReadAll()["Coder/Threads"], "2");
    CodecSettings again = LoadSettings(store.ReadAll());
    EXPECT_EQ(again.coder.Threads, 2);
    ReinitEncoderParams(store.ReadAll(), 10, 2, 176, 144, &again);
    EXPECT_EQ(again.coder.Threads, 2);
    std::string error;
    EXPECT_FALSE(SetSettingFromText(&again, *info, "65", &error));
    EXPECT_NE(error.find("64"), std::string::npos);
    EXPECT_TRUE(SetSettingFromText(&again, *info, "0", &error));
    EXPECT_EQ(again.coder.Threads, 0);
}

TEST(Settings, SavingKeepsAnotherWritersChange) {
    MemorySettingsStore store;
    CodecSettings loaded = LoadSettings(store.ReadAll());
    // Another process stores a bitrate after this one loaded its record.
    store.Update([](SettingsMap& m) { m["Coder/Bitrate"] = "256000"; });
    CodecSettings edited = loaded;
    edited.general.ShowSNR = 1;
    ASSERT_TRUE(SaveSettings(store, loaded, edited));
    SettingsMap after = store.ReadAll();
    EXPECT_EQ(after["Coder/Bitrate"], "256000");
    EXPECT_EQ(after["General/ShowSNR"], "1");
}

TEST(Settings, UserTextIsValidated) {
    CodecSettings s;
    std::string error;
    EXPECT_TRUE(SetSettingFromText(&s, *FindSetting("Coder/Bitrate"), "128000", &error));
    EXPECT_EQ(s.coder.Bitrate, 128000);
    EXPECT_FALSE(SetSettingFromText(&s, *FindSetting("Coder/Bitrate"), "9000", &error));
    EXPECT_NE(error.find("14400"), std::string::npos);
    EXPECT_FALSE(SetSettingFromText(&s, *FindSetting("Coder/Speed"), "3x", &error));
    EXPECT_TRUE(SetSettingFromText(&s, *FindSetting("General/ShowSNR"), "7", &error));
    EXPECT_EQ(s.general.ShowSNR, 1);
    EXPECT_TRUE(SetSettingFromText(&s, *FindSetting("Coder/Bitrate"), "-1", &error));
    EXPECT_EQ(s.coder.Bitrate, 64000);
    EXPECT_TRUE(SetSettingFromText(&s, *FindSetting("General/DefaultOutputFile"), "/tmp/a b=c.263", &error));
    EXPECT_EQ(s.general.DefaultOutputFile, "/tmp/a b=c.263");
    EXPECT_EQ(FindSetting("Coder/NoSuchThing"), nullptr);
}

TEST(SettingsFile, TextRoundTrip) {
    SettingsMap values{{"General/StartupFile", "/a\\b\nc=d"}, {"Coder/Bitrate", "64000"}, {"Extra/X", ""}};
    SettingsMap parsed;
    ASSERT_TRUE(ParseSettings(SerializeSettings(values), &parsed));
    EXPECT_EQ(parsed, values);
    const std::string text = SerializeSettings(values);
    EXPECT_LT(text.find("[General]"), text.find("[Coder]"));
    EXPECT_TRUE(ParseSettings("# c\n[Coder]\r\n Bitrate = 5\n\n", &parsed));
    EXPECT_EQ(parsed["Coder/Bitrate"], " 5");
    EXPECT_FALSE(ParseSettings("Bitrate=5\n", &parsed));  // outside a group
    EXPECT_FALSE(ParseSettings("[Coder]\ngarbage\n", &parsed));
    EXPECT_FALSE(ParseSettings(std::string("[Coder]\nA=\0\n", 12), &parsed));
}

TEST(SettingsFile, DefaultPathFollowsXdgConfigHome) {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old ? old : "";
    setenv("XDG_CONFIG_HOME", "/some/where", 1);
    EXPECT_EQ(DefaultSettingsPath(), "/some/where/tessaro/settings.ini");
    setenv("XDG_CONFIG_HOME", "relative", 1);  // not absolute: ignored
    EXPECT_NE(DefaultSettingsPath().find("/.config/tessaro/settings.ini"), std::string::npos);
    if (old)
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}

TEST(SettingsFile, UnchangedValuesLeaveTheFileUntouched) {
    const std::string dir = testsupport::MakeTempDir("settings-untouched");
    FileSettingsStore store(dir + "/tessaro/settings.ini");
    CodecSettings loaded = LoadSettings(store.ReadAll());
    CodecSettings edited = loaded;
    edited.coder.Bitrate = 10000000;
    ASSERT_TRUE(SaveSettings(store, loaded, edited));
    EXPECT_EQ(LoadSettings(store.ReadAll()).coder.Bitrate, 10000000);
    struct stat before {};
    ASSERT_EQ(stat(store.Path().c_str(), &before), 0);
    CodecSettings again = LoadSettings(store.ReadAll());
    ASSERT_TRUE(SaveSettings(store, again, again));
    struct stat after {};
    ASSERT_EQ(stat(store.Path().c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
}

TEST(SettingsFile, DamagedFileReadsAsAbsentAndIsKept) {
    const std::string dir = testsupport::MakeTempDir("settings-corrupt");
    const std::string path = dir + "/settings.ini";
    const std::string junk =
        "\x7f"
        "ELF binary junk\nwithout=groups\n";
    Spit(path, junk);
    FileSettingsStore store(path);
    Problems problems;
    problems.Attach(store);
    EXPECT_TRUE(store.ReadAll().empty());
    EXPECT_EQ(LoadSettings(store.ReadAll()).coder.Bitrate, 64000);
    ASSERT_FALSE(problems.messages.empty());
    // Saving nothing new leaves the damaged file alone.
    ASSERT_TRUE(store.Update([](SettingsMap&) {}));
    EXPECT_EQ(Slurp(path), junk);
    // A real change keeps the damaged file aside before replacing it.
    problems.messages.clear();
    ASSERT_TRUE(store.Update([](SettingsMap& m) { m["Coder/Bitrate"] = "128000"; }));
    EXPECT_EQ(Slurp(path + ".corrupt"), junk);
    EXPECT_EQ(ReadNumber(store.ReadAll(), "Coder/Bitrate"), 128000);
    ASSERT_EQ(problems.messages.size(), 1u);
    EXPECT_NE(problems.messages[0].find("settings.ini.corrupt"), std::string::npos);
    // A second damaged file does not replace the first backup.
    Spit(path, "[broken\n");
    ASSERT_TRUE(store.Update([](SettingsMap& m) { m["Coder/Speed"] = "2"; }));
    EXPECT_EQ(Slurp(path + ".corrupt"), junk);
    EXPECT_EQ(Slurp(path + ".corrupt.2"), "[broken\n");
}

TEST(SettingsFile, UnusableLocationsAreReportedNotFatal) {
    const std::string dir = testsupport::MakeTempDir("settings-unwritable");
    // The settings folder is a plain file: nothing can be created under it.
    Spit(dir + "/tessaro", "x");
    FileSettingsStore blocked(dir + "/tessaro/settings.ini");
    Problems problems;
    problems.Attach(blocked);
    EXPECT_TRUE(blocked.ReadAll().empty());
    EXPECT_FALSE(blocked.Update([](SettingsMap& m) { m["Coder/Bitrate"] = "1"; }));
    EXPECT_FALSE(problems.messages.empty());
    // The settings file is a folder: reads as absent, writes are refused and it is left in place.
    ASSERT_EQ(mkdir((dir + "/folder.ini").c_str(), 0700), 0);
    FileSettingsStore folder(dir + "/folder.ini");
    EXPECT_TRUE(folder.ReadAll().empty());
    EXPECT_FALSE(folder.Update([](SettingsMap& m) { m["Coder/Bitrate"] = "1"; }));
    struct stat st {};
    ASSERT_EQ(stat((dir + "/folder.ini").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

// Also as the superuser, whom file permissions do not stop: the mode bits alone mark it read-only.
TEST(SettingsFile, ReadOnlyFileIsNotReplaced) {
    const std::string dir = testsupport::MakeTempDir("settings-readonly");
    const std::string path = dir + "/settings.ini";
    Spit(path, "[Coder]\nBitrate=128000\n");
    chmod(path.c_str(), 0444);
    FileSettingsStore store(path);
    EXPECT_EQ(ReadNumber(store.ReadAll(), "Coder/Bitrate"), 128000);
    EXPECT_FALSE(store.Update([](SettingsMap& m) { m["Coder/Bitrate"] = "256000"; }));
    EXPECT_EQ(ReadNumber(store.ReadAll(), "Coder/Bitrate"), 128000);
    chmod(path.c_str(), 0644);
}

TEST(SettingsFile, ConcurrentWritersLoseNoKeys) {
    const std::string dir = testsupport::MakeTempDir("settings-race");
    const std::string path = dir + "/settings.ini";
    constexpr int kKeys = 60;
    std::atomic<bool> done{false};
    std::atomic<int> unparsable{0};
    auto writer = [&](const std::string& group) {
        FileSettingsStore store(path);  // its own descriptors, as another process would have
        for (int i = 0; i < kKeys; ++i) {
            ASSERT_TRUE(store.Update(
                [&](SettingsMap& m) { m[group + "/Key" + std::to_string(i)] = std::to_string(i); }));
        }
    };
    std::thread reader([&] {
        while (!done.load()) {
            const std::string text = Slurp(path);
            SettingsMap m;
            if (!text.empty() && !ParseSettings(text, &m)) ++unparsable;
        }
    });
    std::thread a(writer, "RaceA"), b(writer, "RaceB");
    a.join();
    b.join();
    done.store(true);
    reader.join();
    EXPECT_EQ(unparsable.load(), 0);
    FileSettingsStore check(path);
    SettingsMap m = check.ReadAll();
    for (const char* group : {"RaceA", "RaceB"}) {
        for (int i = 0; i < kKeys; ++i) {
            EXPECT_EQ(m[std::string(group) + "/Key" + std::to_string(i)], std::to_string(i)) << group << i;
        }
    }
}

}  // namespace
}  // namespace tessaro
