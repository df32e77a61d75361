// tessaro-cli: encode, decode and compare sequences, inspect files, manage the settings.
#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <string>

#include "CaptureCommands.h"
#include "Commands.h"

int main(int argc, char** argv) {
    using namespace tessaro::cli;
    // A reader that goes away (a pipe into a player that was closed) ends the run with a write
    // error rather than killing the process before it can tidy its files.
    std::signal(SIGPIPE, SIG_IGN);
    CLI::App app{"Tessaro: H.263+ encoding, decoding and comparison without a window"};
    app.require_subcommand(1);
    app.set_help_all_flag("--help-all", "Help for every command");
    app.footer(
        "Exit status: 0 success; 1 failure (a file, a setting or the codec); 2 usage error; 3 decode only: "
        "the stream is damaged and pictures were lost (the output holds the rest).");

    CommonOptions common;
    auto addSet = [&](CLI::App* command) {
        command
            ->add_option("--set", common.overrides,
                         "Override a setting for this run, one per --set: Group/Name=VALUE (also "
                         "Advanced/MBlocksPerSlice, which is never stored)")
            ->type_name("KEY=VALUE")
            ->expected(1)
            ->allow_extra_args(false)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    };
    auto addSize = [&](CLI::App* command) {
        command->add_option("--size", common.size, "Picture size of .cst files")->type_name("WxH");
    };

    EncodeOptions encode;
    CLI::App* enc = app.add_subcommand("encode", "Encode a raw YUV sequence into an H.263+ bitstream");
    enc->add_option("INPUT", encode.input,
                    "Raw sequence (.sqcif .qcif .cif .4cif .16cif .cst), Y4M sequence (.y4m), or - for a Y4M "
                    "sequence on standard input (the log then goes to standard error)")
        ->required();
    enc->add_option("-o,--output", encode.output,
                    "Bitstream file (default: General/DefaultOutputFile, else INPUT.263)");
    enc->add_option("--start", encode.start, "First frame of the range")->check(CLI::Range(0, 2147483647));
    enc->add_option("--end", encode.end, "Last frame of the range (default: the last frame of INPUT)")
        ->check(CLI::Range(0, 2147483647));
    enc->add_option("--recon", encode.recon,
                    "Write the reconstructed pictures (display order) to this raw file (Y4M for .y4m)");
    enc->add_option(
        "--csv", encode.csv,
        "Write frame, type, bytes and SNR of every coded picture (coding order) to this CSV file");
    enc->add_flag(
        "--b-picture-snr", encode.bPictureSnr,
        "With B-pictures and General/ShowSNR, give every coded picture its SNR line (coding order)");
    int encodeThreads = -1;
    enc->add_option("--threads", encodeThreads,
                    "Threads that encode each picture (0: one per processor core; overrides Coder/Threads; "
                    "every count gives the same bitstream)")
        ->check(CLI::Range(0, 64));
    addSize(enc);
    addSet(enc);

    std::string decodeInput, decodeOutput;
    CLI::App* dec = app.add_subcommand("decode", "Decode an H.263 bitstream into a raw YUV sequence");
    dec->add_option("INPUT", decodeInput, "Bitstream (.263)")->required();
    dec->add_option("-o,--output", decodeOutput,
                    "Raw output file, Y4M for .y4m, or - for Y4M on standard output with the log on standard "
                    "error (default: NAME_.EXT beside the bitstream, never replacing a file)");
    int decodeThreads = -1;
    dec->add_option("--threads", decodeThreads,
                    "Above 1, the decoded pictures are written by a thread of their own while the next ones "
                    "are decoded (0: one per processor core; overrides Coder/Threads)")
        ->check(CLI::Range(0, 64));
    addSet(dec);

    std::string first, second, compareCsv;
    CLI::App* cmp = app.add_subcommand("compare", "PSNR of two raw sequences, frame by frame");
    cmp->add_option("FIRST", first, "First raw sequence")->required();
    cmp->add_option("SECOND", second, "Second raw sequence")->required();
    cmp->add_option("--csv", compareCsv, "Write frame and SNR of every compared frame to this CSV file");
    addSize(cmp);

    std::string infoPath;
    CLI::App* info = app.add_subcommand(
        "info",
        "Format, size, frames, frame rate and bitrate of a file; for a bitstream also the pictures by "
        "type, the annexes in use and the H.263 profile and level");
    info->add_option("FILE", infoPath, "Raw or Y4M sequence, AVI file or bitstream")->required();
    addSet(info);
    addSize(info);

    std::string genFormat, genOutput;
    int genFrames = 0;
    unsigned genSeed = 1;
    CLI::App* gen = app.add_subcommand("generate", "Write a deterministic synthetic raw sequence");
    gen->add_option("--format", genFormat, "sqcif, qcif, cif, 4cif, 16cif or WxH")->required();
    gen->add_option("--frames", genFrames, "Number of frames")->required();
    gen->add_option("-o,--output", genOutput, "Output file (Y4M for .y4m, raw otherwise)")->required();
    gen->add_option("--seed", genSeed, "Seed of the content");

    CLI::App* settings = app.add_subcommand("settings", "Show or change the persistent settings");
    settings->require_subcommand(1);
    CLI::App* list = settings->add_subcommand("list", "Every setting with its value");
    std::string getKey, setKey, setValue;
    CLI::App* get = settings->add_subcommand("get", "The value of one setting");
    get->add_option("KEY", getKey, "Group/Name")->required();
    CLI::App* set = settings->add_subcommand("set", "Store one setting");
    set->add_option("KEY", setKey, "Group/Name")->required();
    set->add_option("VALUE", setValue, "New value (-1: the default)")->required();
    CLI::App* reset = settings->add_subcommand("reset", "Remove every stored setting");

    CaptureCommands capture(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        // One plain line and the usage status, whatever CLI11's own code for the error.
        std::fprintf(stderr, "tessaro-cli: %s (see: tessaro-cli --help)\n", e.what());
        return 2;
    }
    if (capture.Chosen()) return capture.Run();

    if (*enc) {
        // Given last, so that it wins over a --set of the same setting.
        if (encodeThreads >= 0) common.overrides.push_back("Coder/Threads=" + std::to_string(encodeThreads));
        return RunEncode(encode, common);
    }
    if (*dec) {
        if (decodeThreads >= 0) common.overrides.push_back("Coder/Threads=" + std::to_string(decodeThreads));
        return RunDecode(decodeInput, decodeOutput, common);
    }
    if (*cmp) return RunCompare(first, second, compareCsv, common);
    if (*info) return RunInfo(infoPath, common);
    if (*gen) return RunGenerate(genFormat, genFrames, genOutput, genSeed);
    if (*list) return RunSettingsList();
    if (*get) return RunSettingsGet(getKey);
    if (*set) return RunSettingsSet(setKey, setValue);
    if (*reset) return RunSettingsReset();
    return 2;
}
