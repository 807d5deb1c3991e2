// The table: one entry a case. Paths are below the run's own folder (places), so that the
// cases can run on a machine in use; names and texts are as the program's users write them.
#include "cases.h"

#include <algorithm>

Places places;

namespace {

const std::wstring kApp = L"App", kCompany = L"Firm";
const std::wstring kJapanese = L"\u4e88\u5b9a\u8868";  // each second byte in 932 is 0x5C
const std::wstring kTrailByteCompany = L"\u8868";      // 0x95 0x5C
const std::wstring kOldCommand = L"C:\\old\\remove.exe /x";
// "UninstallString" in full-width letters: code page 1252 has only the ASCII look-alike.
const std::wstring kFullWidthName =
    L"\uff35\uff4e\uff49\uff4e\uff53\uff54\uff41\uff4c\uff4c"
    L"\uff33\uff54\uff52\uff49\uff4e\uff47";

const std::wstring kInstallPathWarning =
    L"\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u30d1\u30b9\u304c\u898b\u3064\u304b\u308a\u307e\u305b"
    L"\u3093\u3067\u3057\u305f\u3002\n\u30ab\u30ec\u30f3\u30c0\u30fc\u304c\u6b63\u3057\u304f"
    L"\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u3055\u308c\u3066\u3044\u308b\u304b\u78ba\u8a8d\u3057"
    L"\u3066\u304f\u3060\u3055\u3044";
const std::wstring kShortcutWarning =
    L"\u30b7\u30e7\u30fc\u30c8\u30ab\u30c3\u30c8\u306e\u4f5c\u6210\u306b\u5931\u6557\u3057\u307e"
    L"\u3057\u305f";

std::wstring Cal()
{
    return places.root + L"\\Cal";
}

std::wstring Spaced()
{
    return places.root + L"\\Sample Cal";  // unquoted, "{root}\Sample.exe" would run
}

// A string value as the wide API reads it back: its text and its zero.
Value Sz(const std::wstring& name, const std::wstring& text, DWORD type = REG_SZ)
{
    return {name, type,
            std::string(reinterpret_cast<const char*>(text.c_str()), text.size() * 2 + 2)};
}

Write Text(const std::wstring& key, const std::wstring& name, const std::wstring& text,
           DWORD type = REG_SZ, Api api = Api::Ansi, int view = 0)
{
    return {key, name, type, text, "", api, view};
}

Settings Names(const std::wstring& app, const std::wstring& company = kCompany)
{
    return {L"[SYS]\r\nApplicationName=" + app + L"\r\nCRCompany=" + company + L"\r\n",
            Settings::Ansi, ""};
}

typedef std::vector<std::pair<std::wstring, std::wstring>> Entry;  // names and texts

// A calendar installation: its InstallPath, and its uninstall entry with DisplayName and
// UninstallString (or the entry values given). By default the application App of Firm, in Cal.
struct Installation {
    std::optional<std::wstring> installPath = Cal();
    std::wstring app = kApp;
    DWORD type = REG_SZ;
    Api api = Api::Ansi;
    std::optional<Entry> entry = std::nullopt;  // none: DisplayName and the old command
    std::wstring company = kCompany;
    std::wstring root = L"SOFTWARE\\";
    int view = 0;
};

std::vector<Write> Installed(const Installation& i)
{
    std::vector<Write> writes;
    if (i.installPath)
        writes.push_back(Text(ProductKey(i.app, i.company, i.root), L"InstallPath", *i.installPath,
                              i.type, i.api, i.view));
    for (const auto& value :
         i.entry.value_or(Entry{{L"DisplayName", i.app}, {L"UninstallString", kOldCommand}}))
        writes.push_back(
            Text(EntryKey(i.app, i.root), value.first, value.second, REG_SZ, Api::Ansi, i.view));
    return writes;
}

// The case for an application of another name: its settings name it, it is installed under
// that name (in Cal, or without an install path), and the typical run is its own.
void ForApp(Case& c, const std::wstring& app, bool withInstallPath = true)
{
    c.app = app;
    c.settings = Names(app);
    c.registry = Installed(
        {.installPath = withInstallPath ? Cal() : std::optional<std::wstring>(), .app = app});
    c.expect = Typical(app);
}

Link LinkTo(const std::wstring& folder, const std::wstring& description = kApp)
{
    return {folder + L"\\calendar.exe", folder, description};
}

std::vector<Value> Rewritten(const std::wstring& installPath, const std::wstring& app = kApp)
{
    return {Sz(L"DisplayName", app),
            Sz(L"UninstallString", L"\"" + installPath + L"\\Uninstall.exe\"")};
}

std::vector<Value> Untouched(const std::wstring& app = kApp)
{
    return {Sz(L"DisplayName", app), Sz(L"UninstallString", kOldCommand)};
}

// The installation in a folder code page 932 has no character for, written in UTF-16.
void InCafe(Case& c, UINT codePage)
{
    c.codePage = codePage;
    c.registry = Installed({.installPath = places.root + L"\\Caf\u00e9", .api = Api::Wide});
}

// Nothing written: no link, the entry as it was, and the boxes given.
void NothingWritten(Case& c, std::vector<Box> boxes = {})
{
    c.expect.boxes = std::move(boxes);
    c.expect.entry = Untouched(c.app);
    c.expect.startup = c.expect.desktop = std::nullopt;
}

// Both links to the folder, and the entry pointing at its Uninstall.exe.
void RanIn(Case& c, const std::wstring& folder)
{
    c.expect.entry = Rewritten(folder);
    c.expect.startup = c.expect.desktop = LinkTo(folder);
}

Case Named(const std::string& name)
{
    Case c;
    c.name = name;
    c.settings = Names(kApp);
    c.registry = Installed({Cal()});
    c.expect = Typical();
    return c;
}

}  // namespace

Expected Typical(const std::wstring& app)
{
    Expected e;
    e.entry = Rewritten(Cal(), app);
    e.startup = e.desktop = LinkTo(Cal(), app);
    return e;
}

// What the user had before the program ran, in the read-only link case.
Link OldLink()
{
    return LinkTo(places.root + L"\\Old", L"Old");
}

std::string Describe(const std::optional<Link>& link)
{
    if (!link) return "none";
    return "(" + Utf8(link->target) + ", " + Utf8(link->workingDirectory) + ", " +
           Utf8(link->description) + ")";
}

std::string Describe(const std::optional<std::vector<Value>>& values)
{
    if (!values) return " no key";
    std::string text;
    for (const Value& v : *values)
        text += " " + Utf8(v.name) + "," + std::to_string(v.type) + "," +
                (v.type == REG_SZ || v.type == REG_EXPAND_SZ
                     ? Utf8(std::wstring(reinterpret_cast<const wchar_t*>(v.data.data()),
                                         v.data.size() / 2)
                                .c_str())  // up to the zero, which would end the line
                     : Hex(v.data));
    return text;
}

bool operator==(const Started& a, const Started& b)
{
    return lstrcmpiW(a.module.c_str(), b.module.c_str()) == 0 &&
           lstrcmpiW(a.cwd.c_str(), b.cwd.c_str()) == 0;
}

std::wstring ProductKey(const std::wstring& app, const std::wstring& company,
                        const std::wstring& root)
{
    return root + company + L"\\" + app;
}

std::wstring EntryKey(const std::wstring& app, const std::wstring& root)
{
    return root + L"Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + app;
}

std::vector<Case> MakeCases()
{
    const std::wstring exe = L"\"" + places.program + L"\\FinishSetup.exe\"";
    std::vector<Case> cases;
    auto add = [&cases](const std::string& name, const std::function<void(Case&)>& change) {
        cases.push_back(Named(name));
        change(cases.back());
    };
    auto noRun = [&](const std::string& name, const std::wstring& command) {
        add(name, [&](Case& c) {
            c.command = command;
            NothingWritten(c);
        });
    };
    // A name the program refuses as a link's file name: the shortcut warning, no link anywhere,
    // the entry rewritten all the same.
    auto refused = [&](const std::string& name, const std::wstring& app, UINT codePage = 0) {
        add(name, [&](Case& c) {
            ForApp(c, app);
            c.codePage = codePage;
            c.expect.boxes = {{kShortcutWarning, app}};
            c.expect.startup = c.expect.desktop = std::nullopt;
        });
    };

    // The command line and the settings.
    noRun("no argument", exe);
    add("-normal", [](Case&) {});
    add("company ending in a 0x5C trail byte, key path kept whole", [](Case& c) {
        c.settings = Names(kApp, kTrailByteCompany);
        c.registry = Installed({.company = kTrailByteCompany});
    });
    add("-NORMAL", [&](Case& c) { c.command = exe + L" -NORMAL"; });
    noRun("trailing space", exe + L" -normal ");
    noRun("second argument", exe + L" -normal x");
    noRun("quoted -normal", exe + L" \"-normal\"");
    add("unquoted name", [](Case& c) { c.command = L"FinishSetup.exe -normal"; });
    add("tabs and spaces", [&](Case& c) { c.command = exe + L" \t  \t-normal"; });
    add("settings beside the exe, not in the working directory",
        [](Case& c) { c.cwd = places.elsewhere; });
    add("settings with spaces, quotes and other letter case", [](Case& c) {
        c.settings = Settings{L"", Settings::Raw,
                              "[sys]\r\napplicationname = \"App\" \r\n  CRCOMPANY=\tFirm\r\n"};
    });
    add("a 200-byte name is read as its first 127 bytes, and composes no key", [](Case& c) {
        ForApp(c, std::wstring(200, L'a'));
        NothingWritten(c, {{kInstallPathWarning, std::wstring(127, L'a')}});
    });
    add("a settings file with an extension is not read", [](Case& c) {
        c.settingsName = L"ImInitial.ini";
        NothingWritten(c, {{kInstallPathWarning, L""}});
    });
    add("running twice writes the same command", [](Case& c) { c.runs = 2; });

    // The install path and the uninstall entry.
    add("install path with trailing backslash", [](Case& c) {
        c.registry = Installed({Cal() + L"\\"});
        c.expect.startup = c.expect.desktop = Link{Cal() + L"\\calendar.exe", Cal() + L"\\", kApp};
    });
    add("install path in Japanese ending in a 0x5C trail byte", [](Case& c) {
        c.registry = Installed({places.root + L"\\" + kJapanese});
        RanIn(c, places.root + L"\\" + kJapanese);
    });
    add("install path as REG_EXPAND_SZ stays unexpanded", [](Case& c) {
        c.registry = Installed({.installPath = L"%ProgramFiles%\\Cal", .type = REG_EXPAND_SZ});
        c.expect.entry = Rewritten(L"%ProgramFiles%\\Cal");
        c.expect.checkLinks = false;  // the shell link object may expand the variable
    });
    add("lower-case value names, name kept and type made REG_SZ", [](Case& c) {
        c.registry = {Text(ProductKey(), L"installpath", Cal()),
                      Text(EntryKey(), L"uninstallstring", L"%x%", REG_EXPAND_SZ)};
        c.expect.entry = {{Sz(L"uninstallstring", L"\"" + Cal() + L"\\Uninstall.exe\"")}};
    });
    add("large value and long value name enumerated first", [](Case& c) {
        std::string big;
        for (int i = 0; i < 20 * 256; ++i) big.push_back(static_cast<char>(i & 0xFF));
        c.registry.insert(c.registry.begin(),
                          {{ProductKey(), L"Big", REG_BINARY, L"", big, Api::Bytes, 0},
                           Text(ProductKey(), std::wstring(2000, L'N'), L"x")});
    });
    add("entry without UninstallString left alone", [](Case& c) {
        c.registry = Installed({.entry = Entry{{L"DisplayName", kApp}}});
        c.expect.entry = {{Sz(L"DisplayName", kApp)}};
    });
    add("no uninstall entry, none created", [](Case& c) {
        c.registry = Installed({.entry = Entry{}});
        c.expect.entry = std::nullopt;
    });
    add("uninstall command quoted: started without a module name, a program at the first space "
        "never runs",
        [](Case& c) {
            c.registry = Installed({Spaced()});
            c.recorders = {Spaced() + L"\\Uninstall.exe", places.root + L"\\Sample.exe"};
            c.runUninstall = true;
            RanIn(c, Spaced());
            c.expect.started = {{Spaced() + L"\\Uninstall.exe", places.root}};
        });

    // The shortcuts and the warnings.
    add("no install path: one warning, Startup folder still made, entry left alone", [](Case& c) {
        c.registry = Installed({std::nullopt});
        c.missingStartupFolder = true;
        NothingWritten(c, {{kInstallPathWarning, kApp}});
    });
    add("missing Startup folder is created", [](Case& c) { c.missingStartupFolder = true; });
    refused("shortcut that cannot be saved: one warning, no Desktop, entry still rewritten",
            L"A|B");
    add("Japanese application name", [](Case& c) { ForApp(c, kJapanese); });
    add("a UTF-8 BOM before [SYS]: the section is missed, the install path warning without a "
        "caption",
        [](Case& c) {
            c.settings = Settings{L"", Settings::Raw,
                                  "\xef\xbb\xbf[SYS]\r\nApplicationName=App\r\nCRCompany=Firm\r\n"};
            NothingWritten(c, {{kInstallPathWarning, L""}});
            c.wineDifference =
                "Wine skips a UTF-8 BOM in a profile file, which Windows reads as text";
        });
    add("install path warning with a Japanese caption", [](Case& c) {
        ForApp(c, kJapanese, false);
        NothingWritten(c, {{kInstallPathWarning, kJapanese}});
    });
    add("a read-only link already in Startup is not replaced: one warning, no Desktop, entry "
        "still rewritten",
        [](Case& c) {
            c.readOnlyLink = true;
            c.expect.boxes = {{kShortcutWarning, kApp}};
            c.expect.startup = OldLink();
            c.expect.desktop = std::nullopt;
            c.wineDifference =
                "Wine running as root writes a read-only file, which Windows "
                "refuses to (FILE_ATTRIBUTE_READONLY)";
            c.wineDifferenceAsRoot = true;
        });
    add("Startup link opened as at logon starts calendar.exe in the install folder", [](Case& c) {
        c.recorders = {Cal() + L"\\calendar.exe"};
        c.openStartupLink = true;
        c.expect.started = {{Cal() + L"\\calendar.exe", Cal()}};
    });

    // Other code pages, users and window stations.
    add("install path outside code page 932, written in UTF-16: not found, no look-alike",
        [](Case& c) {
            InCafe(c, 932);
            NothingWritten(c, {{kInstallPathWarning, kApp}});
        });
    add("install path outside code page 932, written in UTF-16: found under code page 1252",
        [](Case& c) {
            InCafe(c, 1252);
            RanIn(c, places.root + L"\\Caf\u00e9");
        });
    add("user outside the code page: links in the user's folders, the Startup link starts the "
        "application",
        [](Case& c) {
            c.userOutsideCodePage = true;
            c.recorders = {Cal() + L"\\calendar.exe"};
            c.openStartupLink = true;
            c.expect.started = {{Cal() + L"\\calendar.exe", Cal()}};
        });
    add("install path warning in Japanese under code page 1252", [](Case& c) {
        c.codePage = 1252;
        c.registry = Installed({std::nullopt});
        NothingWritten(c, {{kInstallPathWarning, kApp}});
    });
    refused("shortcut warning in Japanese under code page 1252", L"A|B", 1252);
    add("window station no user can see, no install path: ends at once, no box", [](Case& c) {
        c.hidden = true;
        c.registry = Installed({std::nullopt});
        NothingWritten(c);
    });
    add("window station no user can see: the typical run writes both links and the entry",
        [](Case& c) { c.hidden = true; });

    // Inputs the program refuses rather than use as something else.
    refused("device name NUL: no link, the shortcut warning, the entry still rewritten", L"NUL");
    refused("name with a stream's colon: no link, no stray file", L"Cal: Pro");
    refused("name leaving the folder: no link above Startup or the Desktop", L"..\\..\\Cal");
    add("install path that names no folder: the warning, no link, the entry left alone",
        [](Case& c) {
            c.registry = Installed({L"Cal"});
            NothingWritten(c, {{kInstallPathWarning, kApp}});
        });
    add("empty install path: the warning, no link, the entry left alone", [](Case& c) {
        c.registry = Installed({L""});
        NothingWritten(c, {{kInstallPathWarning, kApp}});
    });
    add("name outside code page 932 in a UTF-16 settings file: the look-alike's keys and links "
        "untouched",
        [](Case& c) {
            c.codePage = 932;
            ForApp(c, L"Cafe");  // the look-alike's installation
            c.settings = Settings{L"[SYS]\r\nApplicationName=Caf\u00e9\r\nCRCompany=Firm\r\n",
                                  Settings::Utf16, ""};
            NothingWritten(c, {{kInstallPathWarning, L""}});
        });
    add("no company in the settings: another vendor's SOFTWARE\\App is not taken for it",
        [](Case& c) {
            c.settings = Settings{L"[SYS]\r\nApplicationName=App\r\n", Settings::Ansi, ""};
            c.registry = Installed({std::nullopt});
            c.registry.push_back(Text(L"SOFTWARE\\App", L"InstallPath", Cal()));
            NothingWritten(c, {{kInstallPathWarning, kApp}});
        });
    add("a value named UninstallString in full-width letters is not that value: none made",
        [](Case& c) {
            c.registry = Installed({.entry = Entry{{L"DisplayName", kApp}}});
            c.registry.push_back(Text(EntryKey(), kFullWidthName, kOldCommand, REG_SZ, Api::Wide));
            c.expect.entry = {{Sz(L"DisplayName", kApp), Sz(kFullWidthName, kOldCommand)}};
        });
    add("program folder with a full-width quote: the command line taken as typed", [](Case& c) {
        c.programDir = c.cwd = places.quote;
        c.command = L"\"" + places.quote + L"\\FinishSetup.exe\" -normal";
    });
    add("a name that is another file's 8.3 alias: that file kept, the shortcut warning",
        [](Case& c) {
            ForApp(c, places.alias);
            c.userFile = true;
            c.expect.boxes = {{kShortcutWarning, places.alias}};
            c.expect.startup = c.expect.desktop = std::nullopt;
        });
    add("program folder outside code page 932: its own settings, not the look-alike folder's",
        [](Case& c) {
            c.codePage = 932;
            c.programDir = c.cwd = places.cafe;
            c.command = L"\"" + places.cafe + L"\\FinishSetup.exe\" -normal";
            // The product whose settings are in the look-alike folder.
            for (const Write& w : Installed({.app = L"Wrong", .company = L"Wrong"}))
                c.registry.push_back(w);
            c.expect.otherEntry = {{EntryKey(L"Wrong"), Untouched(L"Wrong")}};
        });

    // The PE32 on 64-bit Windows reads and writes the 32-bit view, which the 64-bit view shows
    // under WOW6432Node; an installer that writes only the 64-bit view is not seen at all.
    add("32-bit view: keys written under WOW6432Node from the 64-bit view are found", [](Case& c) {
        c.wow64Only = true;
        c.registry = Installed({.root = L"SOFTWARE\\WOW6432Node\\", .view = 64});
        c.entryKey = EntryKey(kApp, L"SOFTWARE\\WOW6432Node\\");
        c.entryView = 64;
    });
    add("keys only in the 64-bit view: install path warning, nothing rewritten", [](Case& c) {
        c.wow64Only = true;
        c.registry = Installed({.view = 64});
        c.entryView = 64;
        NothingWritten(c, {{kInstallPathWarning, kApp}});
    });
    return cases;
}
