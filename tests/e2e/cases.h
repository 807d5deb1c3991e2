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
    std::wstring quote;      // a program folder with a full-width quote, '"' by best fit in 1252
    std::wstring alias;      // the 8.3 alias of kUserFile, without ".LNK"; no '~': none here
    std::wstring startup, desktop;
};
extern Places places;

// A registry value the case writes before the run: as text the ANSI API writes in the code page
// (the case is skipped where it cannot hold it), any text, or bytes.
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

// What a case expects, as plain data; by default what the typical run leaves: App's uninstall
// entry pointing at Cal's Uninstall.exe, both links to Cal's calendar.exe, no box. Each run also
// keeps the Startup folder, makes none of the files a link of the app's name could be
// (LinkFiles) but the links expected, and, on a window station no user can see, ends in 20 s.
struct Expected {
    std::vector<Box> boxes;
    std::optional<std::vector<Value>> entry;  // the uninstall entry's values; none: no key
    std::optional<Link> startup, desktop;
    std::vector<Started> started;  // the recorders' starts
    // Another product's uninstall entry, which stays as it was installed.
    std::optional<std::pair<std::wstring, std::vector<Value>>> otherEntry;
    bool checkLinks = true;
};

// What a case saw.
struct Outcome {
    std::vector<Run> runs;
    std::optional<std::vector<Value>> entry;
    std::optional<Link> startup, desktop;
    bool startupFolderExists = false;
    std::vector<std::wstring> newFiles;  // the files the program made (LinkFiles)
    std::vector<Started> started;
};

const wchar_t* const kUserFile = L"Calendar notes.lnk";

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
    bool missingStartupFolder = false;  // a Startup folder of the run's own, not yet made
    bool readOnlyLink = false;          // a link of the app's name already in Startup, read-only
    bool userFile = false;              // kUserFile in Startup, which must stay as it was
    std::vector<std::wstring> recorders;
    bool runUninstall = false;
    bool openStartupLink = false;
    // Where it can run.
    UINT codePage = 0;  // 0: any
    bool wow64Only = false;
    bool userOutsideCodePage = false;
    Expected expect;
    // Where Wine differs from Windows in a documented way: why, accepted only on Wine (running
    // as root, where the reason needs it) and only when Wine did the typical run instead.
    std::string wineDifference;
    bool wineDifferenceAsRoot = false;
};

std::vector<Case> MakeCases();
Expected Typical(const std::wstring& app = L"App");
Link OldLink();
std::string Describe(const std::optional<Link>& link);
std::string Describe(const std::optional<std::vector<Value>>& values);

std::wstring ProductKey(const std::wstring& app = L"App", const std::wstring& company = L"Firm",
                        const std::wstring& root = L"SOFTWARE\\");
std::wstring EntryKey(const std::wstring& app = L"App", const std::wstring& root = L"SOFTWARE\\");

#endif
