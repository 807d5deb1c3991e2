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
const DWORD kBinary = REG_BINARY;

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

std::string Utf16(const std::wstring& text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

// A string value as the wide API reads it back: its text and its zero.
Value Sz(const std::wstring& name, const std::wstring& text, DWORD type = REG_SZ)
{
    return {name, type, Utf16(text + L'\0')};
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

// A calendar installation: its InstallPath, and its uninstall entry with DisplayName and
// UninstallString (or the entry values given). By default the application App of Firm, in Cal.
struct Installation {
    std::optional<std::wstring> installPath = Cal();
    std::wstring app = kApp;
    DWORD type = REG_SZ;
    Api api = Api::Ansi;
    std::optional<std::vector<std::pair<std::wstring, std::wstring>>> entry;
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
    auto entry = i.entry.value_or(std::vector<std::pair<std::wstring, std::wstring>>{
        {L"DisplayName", i.app}, {L"UninstallString", kOldCommand}});
    for (const auto& value : entry)
        writes.push_back(
            Text(EntryKey(i.app, i.root), value.first, value.second, REG_SZ, Api::Ansi, i.view));
    return writes;
}

std::vector<Write> Installed(const std::optional<std::wstring>& installPath)
{
    Installation i;
    i.installPath = installPath;
    return Installed(i);
}

// The case for an application of another name: its settings name it, and it is installed
// under that name (in Cal, or without an install path).
void ForApp(Case& c, const std::wstring& app, bool withInstallPath = true)
{
    c.app = app;
    c.settings = Names(app);
    Installation i;
    if (!withInstallPath) i.installPath.reset();
    i.app = app;
    c.registry = Installed(i);
}

std::string Describe(const std::optional<Link>& link)
{
    if (!link) return "none";
    return "(" + Utf8(link->target) + ", " + Utf8(link->workingDirectory) + ", " +
           Utf8(link->description) + ")";
}

std::string Describe(const std::optional<std::vector<Value>>& values)
{
    if (!values) return "no key";
    std::string text;
    for (const Value& v : *values)
        text += " " + Utf8(v.name) + "," + std::to_string(v.type) + "," +
                (v.type == REG_SZ || v.type == REG_EXPAND_SZ
                     ? Utf8(std::wstring(reinterpret_cast<const wchar_t*>(v.data.data()),
                                         v.data.size() / 2))
                     : Hex(v.data));
    return text;
}

Check ExpectEntry(std::optional<std::vector<Value>> values)
{
    return [values](const Outcome& o) {
        return o.entry == values
                   ? ""
                   : "uninstall entry:" + Describe(o.entry) + "; expected:" + Describe(values);
    };
}

Check ExpectLinks(std::optional<Link> startup, std::optional<Link> desktop)
{
    return [startup, desktop](const Outcome& o) {
        if (o.startup == startup && o.desktop == desktop) return std::string();
        return "links: " + Describe(o.startup) + ", " + Describe(o.desktop) + "; expected " +
               Describe(startup) + ", " + Describe(desktop);
    };
}

Check ExpectStarted(std::vector<Started> starts)
{
    return [starts](const Outcome& o) {
        if (o.started == starts) return std::string();
        std::string seen;
        for (const Started& s : o.started) seen += " (" + Utf8(s.module) + ", " + Utf8(s.cwd) + ")";
        return "started:" + (seen.empty() ? " nothing" : seen);
    };
}

// The files the run made beside or above the Startup and Desktop folders: only the links
// named, as "folder\name".
Check ExpectNewFiles(std::vector<std::wstring> files)
{
    return [files](const Outcome& o) {
        if (o.newFiles == files) return std::string();
        std::string seen;
        for (const std::wstring& f : o.newFiles) seen += " " + Utf8(f);
        return "files made:" + (seen.empty() ? " none" : seen);
    };
}

Check AllOf(std::vector<Check> checks)
{
    return [checks](const Outcome& o) {
        for (const Check& check : checks) {
            std::string failure = check(o);
            if (!failure.empty()) return failure;
        }
        return std::string();
    };
}

Link CalLink(const std::wstring& description = kApp)
{
    return {Cal() + L"\\calendar.exe", Cal(), description};
}

}  // namespace

// What the user had before the program ran, in the read-only link case.
Link OldLink()
{
    return {places.root + L"\\Old\\calendar.exe", places.root + L"\\Old", L"Old"};
}

namespace {

Check Rewritten(const std::wstring& installPath, const std::wstring& app = kApp)
{
    return ExpectEntry(
        std::vector<Value>{Sz(L"DisplayName", app),
                           Sz(L"UninstallString", L"\"" + installPath + L"\\Uninstall.exe\"")});
}

Check Untouched(const std::wstring& app = kApp)
{
    return ExpectEntry(
        std::vector<Value>{Sz(L"DisplayName", app), Sz(L"UninstallString", kOldCommand)});
}

// Another product's uninstall entry, as Installed left it.
Check OtherEntryUntouched(const std::wstring& app)
{
    return [app](const Outcome&) {
        std::optional<std::vector<Value>> entry = ReadKey(EntryKey(app), 0);
        std::vector<Value> expected = {Sz(L"DisplayName", app),
                                       Sz(L"UninstallString", kOldCommand)};
        return entry == expected ? "" : Utf8(app) + "'s uninstall entry:" + Describe(entry);
    };
}

Check Ran()
{
    return AllOf({Rewritten(Cal()), ExpectLinks(CalLink(), CalLink())});
}

Check NoRun()
{
    return AllOf({Untouched(), ExpectLinks(std::nullopt, std::nullopt)});
}

Check NoLinks()
{
    return ExpectLinks(std::nullopt, std::nullopt);
}

Check StartupFolderMade()
{
    return [](const Outcome& o) {
        return o.startupFolderExists ? "" : "the Startup folder was not made";
    };
}

// A box no one can see would wait for ever: the run ends in seconds instead.
Check QuickExit()
{
    return [](const Outcome& o) {
        for (const Run& run : o.runs)
            if (run.seconds > 20) return "a run took " + std::to_string(run.seconds) + " s";
        return std::string();
    };
}

Case Named(const std::string& name)
{
    Case c;
    c.name = name;
    c.settings = Names(kApp);
    c.registry = Installed(Cal());
    return c;
}

Case With(Case c, const std::function<void(Case&)>& change)
{
    change(c);
    return c;
}

// A name the program refuses as a link's file name: the shortcut warning, no link anywhere,
// the entry rewritten all the same.
Case RefusedName(const std::string& title, const std::wstring& app)
{
    return With(Named(title), [app](Case& c) {
        ForApp(c, app);
        c.boxes = {{kShortcutWarning, app}};
        c.checks = {NoLinks(), ExpectNewFiles({}), Rewritten(Cal(), app)};
    });
}

}  // namespace

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
    auto add = [&cases](Case c) { cases.push_back(std::move(c)); };
    auto noRun = [&](const std::string& name, const std::wstring& command) {
        add(With(Named(name), [&](Case& c) {
            c.command = command;
            c.checks = {NoRun()};
        }));
    };
    auto ran = [&](const std::string& name, const std::function<void(Case&)>& change) {
        add(With(Named(name), [&](Case& c) {
            c.checks = {Ran()};
            change(c);
        }));
    };

    // The command line and the settings.
    noRun("no argument", exe);
    ran("-normal", [](Case&) {});
    ran("typical run opens no key path with an empty component", [](Case&) {});
    ran("company ending in a 0x5C trail byte, key path kept whole", [](Case& c) {
        c.settings = Names(kApp, kTrailByteCompany);
        Installation i;
        i.company = kTrailByteCompany;
        c.registry = Installed(i);
    });
    ran("-NORMAL", [&](Case& c) { c.command = exe + L" -NORMAL"; });
    noRun("trailing space", exe + L" -normal ");
    noRun("second argument", exe + L" -normal x");
    noRun("quoted -normal", exe + L" \"-normal\"");
    ran("unquoted name", [](Case& c) { c.command = L"FinishSetup.exe -normal"; });
    ran("tabs and spaces", [&](Case& c) { c.command = exe + L" \t  \t-normal"; });
    ran("settings beside the exe, not in the working directory",
        [](Case& c) { c.cwd = places.elsewhere; });
    ran("settings with spaces, quotes and other letter case", [](Case& c) {
        c.settings = Settings{L"", Settings::Raw,
                              "[sys]\r\napplicationname = \"App\" \r\n  CRCOMPANY=\tFirm\r\n"};
    });
    add(With(Named("a 200-byte name is read as its first 127 bytes, and composes no key"),
             [](Case& c) {
                 std::wstring name(200, L'a');
                 ForApp(c, name);
                 c.boxes = {{kInstallPathWarning, std::wstring(127, L'a')}};
                 c.checks = {NoLinks(), Untouched(name)};
             }));
    add(With(Named("a settings file with an extension is not read"), [](Case& c) {
        c.settingsName = L"ImInitial.ini";
        c.boxes = {{kInstallPathWarning, L""}};
        c.checks = {Untouched()};
    }));
    ran("running twice writes the same command", [](Case& c) { c.runs = 2; });

    // The install path and the uninstall entry.
    add(With(Named("install path with trailing backslash"), [](Case& c) {
        c.registry = Installed(Cal() + L"\\");
        Link link = {Cal() + L"\\calendar.exe", Cal() + L"\\", kApp};
        c.checks = {Rewritten(Cal()), ExpectLinks(link, link)};
    }));
    add(With(Named("install path in Japanese ending in a 0x5C trail byte"), [](Case& c) {
        c.registry = Installed(places.root + L"\\" + kJapanese);
        c.checks = {Rewritten(places.root + L"\\" + kJapanese)};
    }));
    add(With(Named("install path as REG_EXPAND_SZ stays unexpanded"), [](Case& c) {
        Installation i;
        i.installPath = L"%ProgramFiles%\\Cal";
        i.type = REG_EXPAND_SZ;
        c.registry = Installed(i);
        c.checks = {Rewritten(L"%ProgramFiles%\\Cal")};
    }));
    add(With(Named("lower-case value names, name kept and type made REG_SZ"), [](Case& c) {
        c.registry = {Text(ProductKey(), L"installpath", Cal()),
                      Text(EntryKey(), L"uninstallstring", L"%x%", REG_EXPAND_SZ)};
        c.checks = {ExpectEntry(
            std::vector<Value>{Sz(L"uninstallstring", L"\"" + Cal() + L"\\Uninstall.exe\"")})};
    }));
    ran("large value and long value name enumerated first", [](Case& c) {
        std::string big;
        for (int i = 0; i < 20 * 256; ++i) big.push_back(static_cast<char>(i & 0xFF));
        c.registry.insert(c.registry.begin(),
                          {{ProductKey(), L"Big", kBinary, L"", big, Api::Bytes, 0},
                           Text(ProductKey(), std::wstring(2000, L'N'), L"x")});
    });
    add(With(Named("entry without UninstallString left alone"), [](Case& c) {
        Installation i;
        i.entry = std::vector<std::pair<std::wstring, std::wstring>>{{L"DisplayName", kApp}};
        c.registry = Installed(i);
        c.checks = {ExpectEntry(std::vector<Value>{Sz(L"DisplayName", kApp)})};
    }));
    add(With(Named("no uninstall entry, none created"), [](Case& c) {
        Installation i;
        i.entry = std::vector<std::pair<std::wstring, std::wstring>>{};
        c.registry = Installed(i);
        c.checks = {ExpectEntry(std::nullopt)};
    }));
    add(With(Named("uninstall command quoted: started without a module name, a program at the "
                   "first space never runs"),
             [](Case& c) {
                 c.registry = Installed(Spaced());
                 c.recorders = {Spaced() + L"\\Uninstall.exe", places.root + L"\\Sample.exe"};
                 c.runUninstall = true;
                 c.checks = {Rewritten(Spaced()),
                             ExpectStarted({{Spaced() + L"\\Uninstall.exe", places.root}})};
             }));

    // The shortcuts and the warnings.
    add(With(Named("no install path: one warning, Startup folder still made, entry left alone"),
             [](Case& c) {
                 c.registry = Installed(std::nullopt);
                 c.removeStartupFolder = true;
                 c.boxes = {{kInstallPathWarning, kApp}};
                 c.checks = {Untouched(), NoLinks(), StartupFolderMade()};
             }));
    ran("missing Startup folder is created", [](Case& c) {
        c.removeStartupFolder = true;
        c.checks.push_back(StartupFolderMade());
    });
    add(RefusedName("shortcut that cannot be saved: one warning, no Desktop, entry still rewritten",
                    L"A|B"));
    add(With(Named("Japanese application name"), [](Case& c) {
        ForApp(c, kJapanese);
        c.checks = {Rewritten(Cal(), kJapanese),
                    ExpectLinks(CalLink(kJapanese), CalLink(kJapanese))};
    }));
    add(With(Named("a UTF-8 BOM before [SYS]: the section is missed, the install path warning "
                   "without a caption"),
             [](Case& c) {
                 c.settings =
                     Settings{L"", Settings::Raw,
                              "\xef\xbb\xbf[SYS]\r\nApplicationName=App\r\nCRCompany=Firm\r\n"};
                 c.boxes = {{kInstallPathWarning, L""}};
                 c.checks = {Untouched(), NoLinks()};
                 c.wineDifference =
                     "Wine skips a UTF-8 BOM in a profile file, which Windows "
                     "reads as text";
                 c.wineChecks = {Ran()};
             }));
    add(With(Named("install path warning with a Japanese caption"), [](Case& c) {
        ForApp(c, kJapanese, false);
        c.boxes = {{kInstallPathWarning, kJapanese}};
        c.checks = {NoLinks()};
    }));
    add(With(Named("a read-only link already in Startup is not replaced: one warning, no "
                   "Desktop, entry still rewritten"),
             [](Case& c) {
                 c.readOnlyLink = true;
                 c.boxes = {{kShortcutWarning, kApp}};
                 c.checks = {Rewritten(Cal()), ExpectLinks(OldLink(), std::nullopt)};
                 c.wineDifference =
                     "Wine running as root writes a read-only file, which Windows "
                     "refuses to (FILE_ATTRIBUTE_READONLY)";
                 c.wineChecks = {Ran()};
             }));
    ran("Startup link opened as at logon starts calendar.exe in the install folder", [](Case& c) {
        c.recorders = {Cal() + L"\\calendar.exe"};
        c.openStartupLink = true;
        c.checks.push_back(ExpectStarted({{Cal() + L"\\calendar.exe", Cal()}}));
    });

    // Other code pages, users and window stations.
    add(With(Named("install path outside code page 932, written in UTF-16: not found, no "
                   "look-alike"),
             [](Case& c) {
                 c.codePage = 932;
                 Installation i;
                 i.installPath = places.root + L"\\Caf\u00e9";
                 i.api = Api::Wide;
                 c.registry = Installed(i);
                 c.boxes = {{kInstallPathWarning, kApp}};
                 c.checks = {Untouched(), NoLinks()};
             }));
    add(With(Named("install path outside code page 932, written in UTF-16: found under code "
                   "page 1252"),
             [](Case& c) {
                 c.codePage = 1252;
                 std::wstring cafe = places.root + L"\\Caf\u00e9";
                 Installation i;
                 i.installPath = cafe;
                 i.api = Api::Wide;
                 c.registry = Installed(i);
                 Link link = {cafe + L"\\calendar.exe", cafe, kApp};
                 c.checks = {Rewritten(cafe), ExpectLinks(link, link)};
             }));
    ran("user outside the code page: links in the user's folders, the Startup link starts the "
        "application",
        [](Case& c) {
            c.userOutsideCodePage = true;
            c.recorders = {Cal() + L"\\calendar.exe"};
            c.openStartupLink = true;
            c.checks.push_back(ExpectStarted({{Cal() + L"\\calendar.exe", Cal()}}));
        });
    add(With(Named("install path warning in Japanese under code page 1252"), [](Case& c) {
        c.codePage = 1252;
        c.registry = Installed(std::nullopt);
        c.boxes = {{kInstallPathWarning, kApp}};
        c.checks = {Untouched()};
    }));
    add(With(RefusedName("shortcut warning in Japanese under code page 1252", L"A|B"),
             [](Case& c) { c.codePage = 1252; }));
    add(With(Named("window station no user can see, no install path: ends at once, no box"),
             [](Case& c) {
                 c.hidden = true;
                 c.registry = Installed(std::nullopt);
                 c.checks = {Untouched(), NoLinks(), QuickExit()};
             }));
    ran("window station no user can see: the typical run writes both links and the entry",
        [](Case& c) { c.hidden = true; });

    // Inputs the program refuses rather than use as something else.
    add(RefusedName("device name NUL: no link, the shortcut warning, the entry still rewritten",
                    L"NUL"));
    add(RefusedName("name with a stream's colon: no link, no stray file", L"Cal: Pro"));
    add(RefusedName("name leaving the folder: no link above Startup or the Desktop",
                    L"..\\..\\Cal"));
    for (const std::wstring& path : {std::wstring(L"Cal"), std::wstring()})
        add(With(
            Named(path.empty() ? "empty install path: the warning, no link, the entry left alone"
                               : "install path that names no folder: the warning, no link, "
                                 "the entry left alone"),
            [&](Case& c) {
                c.registry = Installed(path);
                c.boxes = {{kInstallPathWarning, kApp}};
                c.checks = {Untouched(), NoLinks(), ExpectNewFiles({})};
            }));
    add(With(Named("name outside code page 932 in a UTF-16 settings file: the look-alike's keys "
                   "and links untouched"),
             [](Case& c) {
                 c.codePage = 932;
                 ForApp(c, L"Cafe");  // the look-alike's installation
                 c.settings = Settings{L"[SYS]\r\nApplicationName=Caf\u00e9\r\nCRCompany=Firm\r\n",
                                       Settings::Utf16, ""};
                 c.boxes = {{kInstallPathWarning, L""}};
                 c.checks = {ExpectNewFiles({}), Untouched(L"Cafe")};
             }));
    ran("program folder outside code page 932: its own settings, not the look-alike folder's",
        [](Case& c) {
            c.codePage = 932;
            c.programDir = places.cafe;
            c.cwd = places.cafe;
            c.command = L"\"" + places.cafe + L"\\FinishSetup.exe\" -normal";
            Installation other;  // the product whose settings are in the look-alike folder
            other.app = other.company = L"Wrong";
            for (const Write& w : Installed(other)) c.registry.push_back(w);
            c.checks.push_back(OtherEntryUntouched(L"Wrong"));
        });

    // The PE32 on 64-bit Windows reads and writes the 32-bit view, which the 64-bit view shows
    // under WOW6432Node; an installer that writes only the 64-bit view is not seen at all.
    add(With(Named("32-bit view: keys written under WOW6432Node from the 64-bit view are found"),
             [](Case& c) {
                 c.wow64Only = true;
                 Installation i;
                 i.root = L"SOFTWARE\\WOW6432Node\\";
                 i.view = 64;
                 c.registry = Installed(i);
                 c.entryKey = EntryKey(kApp, L"SOFTWARE\\WOW6432Node\\");
                 c.entryView = 64;
                 c.checks = {Ran()};
             }));
    add(With(Named("keys only in the 64-bit view: install path warning, nothing rewritten"),
             [](Case& c) {
                 c.wow64Only = true;
                 Installation i;
                 i.view = 64;
                 c.registry = Installed(i);
                 c.entryView = 64;
                 c.boxes = {{kInstallPathWarning, kApp}};
                 c.checks = {Untouched(), NoLinks()};
             }));
    return cases;
}
