// The end-to-end cases: what each prepares, how it starts the program, and what it expects.
#ifndef FINISHSETUP_TESTS_E2E_CASES_H
#define FINISHSETUP_TESTS_E2E_CASES_H

#include "e2e.h"

// Where the cases put their files: a folder of the run's own, so that nothing else is touched.
struct Places {
    std::wstring root;       // removed at the end
    std::wstring program;    // the program's folder, with a space in its name
    std::wstring elsewhere;  // a working directory with other settings
    std::wstring cafe;       // a program folder code page 932 names only as a look-alike
    std::wstring lookAlike;  // that look-alike, with other settings
    std::wstring startup, desktop;
};
extern Places places;

// A registry value the case writes before the run: through the ANSI API in the code page (the
// case is skipped where the code page cannot hold it), through the wide API, or as bytes.
enum class Api { Ansi, Wide, Bytes };
struct Write {
    std::wstring key, name;
    DWORD type;
    std::wstring text;  // string data, written with its zero
    std::string bytes;  // Api::Bytes
    Api api;
    int view;  // 0: the program's own; 32 or 64
};

struct Settings {
    std::wstring text;
    enum Encoding { Ansi, Utf16, Raw } encoding;
    std::string raw;
};

struct Started {
    std::wstring module, cwd;
};
bool operator==(const Started& a, const Started& b);

// What a case saw, for its checks.
struct Outcome {
    std::vector<Run> runs;
    std::optional<std::vector<Value>> entry;  // the uninstall entry's values, none: no key
    std::optional<Link> startup, desktop;
    bool startupFolderExists = false;
    std::vector<std::wstring> newFiles;  // beside or above the Startup and Desktop folders
    std::vector<Started> started;        // the recorders' starts
};
typedef std::function<std::string(const Outcome&)> Check;  // "" when it holds

struct Case {
    std::string name;
    std::wstring command;  // empty: "{exe}" -normal
    std::wstring cwd;      // empty: the program's folder
    std::wstring programDir;
    std::optional<Settings> settings;
    std::wstring settingsName = L"ImInitial";
    std::wstring app = L"App";
    std::vector<Write> registry;
    std::wstring entryKey;  // read back; empty: the uninstall entry of app
    int entryView = 0;
    int runs = 1;
    bool hidden = false;
    bool removeStartupFolder = false;
    std::vector<std::wstring> recorders;
    bool runUninstall = false;
    bool openStartupLink = false;
    // Where it can run.
    UINT codePage = 0;  // 0: any
    bool wow64Only = false;
    bool userOutsideCodePage = false;
    // What it expects.
    std::vector<Box> boxes;
    std::vector<Check> checks;
    // Where Wine differs from Windows in a documented way: why, and what Wine does instead,
    // accepted only on Wine and only when what Windows does is not seen.
    std::string wineDifference;
    std::vector<Box> wineBoxes;
    std::vector<Check> wineChecks;
    bool readOnlyLink = false;  // a link of the app's name already in Startup, read-only
};

std::vector<Case> MakeCases();
Link OldLink();

std::wstring ProductKey(const std::wstring& app = L"App", const std::wstring& company = L"Firm",
                        const std::wstring& root = L"SOFTWARE\\");
std::wstring EntryKey(const std::wstring& app = L"App", const std::wstring& root = L"SOFTWARE\\");

#endif
