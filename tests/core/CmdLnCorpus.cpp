#include "CmdLnCorpus.h"

#include "MemoryCmdLnSystem.h"
#include "core/CmdLnUtils.h"
#include "core/StrCon.h"

namespace {

constexpr const char* kSystem = "C:\\windows\\system32";

}  // namespace

const std::vector<std::string>& CorpusFiles()
{
    static const std::vector<std::string> files{
        "Program.exe",
        "Documents.exe",
        "Documents and Settings\\User\\start.exe",
        "Program Files\\Tool\\tool.exe",
        "Program Files\\Tool\\plugin.dll",
        "Program Files\\My App\\app.exe",
        "Tools\\tool.exe",
        "Data\\readme.txt",
        "Data\\my file.txt",
        "Bin\\kdtray.exe",
        "Bin\\kdhelper.dll",
        "Bin\\kdpanel.cpl",
        "Apps\\Viewer\\kdview.exe",
        "Links\\Tool.lnk",
    };
    return files;
}

std::vector<CorpusEnv> CorpusEnvironment()
{
    return {
        {"KDROOT", "{R}"},
        {"KDTOOL", "{R}\\Program Files\\Tool"},
        {"PATH", "{R}\\Bin;C:\\windows\\system32;C:\\windows"},
    };
}

const std::vector<CmdLnCase>& CommandLineCorpus()
{
    static const std::vector<CmdLnCase> rows{
        {"quoted path with blanks", R"("{R}\Program Files\Tool\tool.exe")", R"({R}\Program Files\Tool\tool.exe)", ""},
        {"quoted path with blanks", R"("{R}\Program Files\Tool\tool.exe" -x)", R"({R}\Program Files\Tool\tool.exe)", "-x"},
        {"quoted path with blanks", R"(  "{R}\Program Files\My App\app.exe"   /min  )", R"({R}\Program Files\My App\app.exe)", "/min"},
        {"quoted path with blanks", R"("{R}\Program Files\Tool\tool" /s)", R"({R}\Program Files\Tool\tool.exe)", "/s"},
        {"quoted path with blanks", R"("{R}\Program Files\Tool\tool.exe"-x)", R"({R}\Program Files\Tool\tool.exe)", "-x"},
        {"quoted path with blanks", R"("{R}\Program Files\Tool\missing.exe" /s)", nullptr, nullptr},

        {"unquoted path with blanks", R"({R}\Program Files\Tool\tool.exe /quiet)", R"({R}\Program Files\Tool\tool.exe)", "/quiet"},
        {"unquoted path with blanks", R"({R}\Program Files\Tool\tool.exe)", R"({R}\Program Files\Tool\tool.exe)", ""},
        {"unquoted path with blanks", R"({R}\Program Files\My App\app.exe -a -b)", R"({R}\Program Files\My App\app.exe)", "-a -b"},
        {"unquoted path with blanks", R"({R}\Program Files\Tool\tool /quiet)", R"({R}\Program Files\Tool\tool.exe)", "/quiet"},
        {"unquoted path with blanks", R"({R}\Program Files\Tool\missing.exe /q)", nullptr, nullptr},
        {"unquoted path with blanks", R"({R}\Program Files\My App\gone.exe)", nullptr, nullptr},
        {"unquoted path with blanks", R"({R}\Tools\tool /s)", R"({R}\Tools\tool.exe)", "/s"},

        {"arguments with quotes", R"({R}\Tools\tool.exe "{R}\Data\my file.txt")", R"({R}\Tools\tool.exe)", R"("{R}\Data\my file.txt")"},
        {"arguments with quotes", R"("{R}\Program Files\Tool\tool.exe" -config "{R}\Data\a b.ini" -v)", R"({R}\Program Files\Tool\tool.exe)", R"(-config "{R}\Data\a b.ini" -v)"},
        {"arguments with quotes", R"({R}\Tools\tool.exe /title="Hello World")", R"({R}\Tools\tool.exe)", R"(/title="Hello World")"},
        {"arguments with quotes", R"({R}\Tools\tool.exe {R}\Data\readme.txt)", R"({R}\Tools\tool.exe)", R"({R}\Data\readme.txt)"},

        {"rundll", "rundll32.exe shell32.dll,Control_RunDLL", R"(C:\windows\system32\rundll32.exe)", "shell32.dll,Control_RunDLL"},
        {"rundll", R"(RUNDLL32.EXE {R}\Bin\kdhelper.dll,Entry 1)", R"(C:\windows\system32\rundll32.exe)", R"({R}\Bin\kdhelper.dll,Entry 1)"},
        {"rundll", R"(rundll32 {R}\Program Files\Tool\plugin.dll,Start)", R"(C:\windows\system32\rundll32.exe)", R"({R}\Program Files\Tool\plugin.dll,Start)"},
        {"rundll", R"(C:\windows\system32\rundll32.exe kdhelper.dll,Run)", R"(C:\windows\system32\rundll32.exe)", "kdhelper.dll,Run"},

        {"environment variables", R"(%KDROOT%\Tools\tool.exe /s)", R"({R}\Tools\tool.exe)", "/s"},
        {"environment variables", R"("%KDTOOL%\tool.exe" -q)", R"({R}\Program Files\Tool\tool.exe)", "-q"},
        {"environment variables", R"(%KDTOOL%\tool.exe -q)", R"({R}\Program Files\Tool\tool.exe)", "-q"},
        {"environment variables", R"(%windir%\system32\notepad.exe %KDROOT%\Data\readme.txt)", R"(C:\windows\system32\notepad.exe)", R"(%KDROOT%\Data\readme.txt)"},
        {"environment variables", R"(%KDUNDEFINED%\tool.exe /s)", nullptr, nullptr},

        {"placeholders", R"("{R}\Program Files\Tool\tool.exe" "%1")", R"({R}\Program Files\Tool\tool.exe)", R"("%1")"},
        {"placeholders", R"({R}\Tools\tool.exe %1 %*)", R"({R}\Tools\tool.exe)", "%1 %*"},
        {"placeholders", R"({R}\Program Files\Tool\tool.exe /open "%1" /n)", R"({R}\Program Files\Tool\tool.exe)", R"(/open "%1" /n)"},

        {"search path and App Paths", "kdtray", R"({R}\Bin\kdtray.exe)", ""},
        {"search path and App Paths", "kdtray.exe -background", R"({R}\Bin\kdtray.exe)", "-background"},
        {"search path and App Paths", R"(notepad {R}\Data\readme.txt)", R"(C:\windows\system32\notepad.exe)", R"({R}\Data\readme.txt)"},
        {"search path and App Paths", "kdviewer.exe /open", R"({R}\Apps\Viewer\kdview.exe)", "/open"},
        {"search path and App Paths", "control.exe kdpanel.cpl", R"(C:\windows\system32\control.exe)", "kdpanel.cpl"},
        {"search path and App Paths", "kdpanel.cpl", R"({R}\Bin\kdpanel.cpl)", ""},
        {"search path and App Paths", "kdnothing /x", nullptr, nullptr},

        {"shortcut", R"({R}\Links\Tool.lnk)", R"({R}\Links\Tool.lnk)", ""},
        {"shortcut", R"("{R}\Links\Tool.lnk" /ignored)", R"({R}\Links\Tool.lnk)", "/ignored"},

        {"UNC and device paths", R"(\\?\{R}\Tools\tool.exe /s)", R"(\\?\{R}\Tools\tool.exe)", "/s"},
        {"UNC and device paths", R"("\\?\{R}\Program Files\Tool\tool.exe" -x)", R"(\\?\{R}\Program Files\Tool\tool.exe)", "-x"},
        {"UNC and device paths", R"(\\fileserver\share\tools\net.exe /sync)", R"(\\fileserver\share\tools\net.exe)", "/sync", true},
        {"UNC and device paths", R"("\\fileserver\share\My Tools\sync.exe" -a)", R"(\\fileserver\share\My Tools\sync.exe)", "-a", true},
        {"UNC and device paths", R"(\\fileserver\share\My Tools\sync.exe -a)", R"(\\fileserver\share\My Tools\sync.exe)", "-a", true},

        {"doubled quotes", R"(""{R}\Program Files\Tool\tool.exe"" /q)", R"({R}\Program Files\Tool\tool.exe)", "/q"},
        {"doubled quotes", R"("{R}\Tools\tool.exe" "")", R"({R}\Tools\tool.exe)", R"("")"},
        {"doubled quotes", R"("""{R}\Program Files\My App\app.exe""" -x)", R"({R}\Program Files\My App\app.exe)", "-x"},

        {"trailing blanks", "{R}\\Tools\\tool.exe   ", R"({R}\Tools\tool.exe)", ""},
        {"trailing blanks", "{R}\\Tools\\tool.exe /s   ", R"({R}\Tools\tool.exe)", "/s"},
        {"trailing blanks", "\"{R}\\Program Files\\Tool\\tool.exe\" -x \t\r\n", R"({R}\Program Files\Tool\tool.exe)", "-x"},

        {"relative path as first argument", R"({R}\Tools\tool.exe data\cfg.ini)", R"({R}\Tools\tool.exe)", R"(data\cfg.ini)"},
        {"relative path as first argument", R"(notepad docs\readme.txt)", R"(C:\windows\system32\notepad.exe)", R"(docs\readme.txt)"},
        {"relative path as first argument", R"("{R}\Program Files\My App\app.exe" logs\today.log)", R"({R}\Program Files\My App\app.exe)", R"(logs\today.log)"},
        {"relative path as first argument", R"({R}\Program Files\My App\app.exe logs\today.log)", R"({R}\Program Files\My App\app.exe)", R"(logs\today.log)"},
        {"relative path as first argument", R"({R}\Tools\tool.exe .\data\cfg.ini /v)", R"({R}\Tools\tool.exe)", R"(.\data\cfg.ini /v)"},

        {"whole line in quotes", R"("{R}\Tools\tool.exe /min")", R"({R}\Tools\tool.exe)", "/min"},
        {"whole line in quotes", R"("{R}\Program Files\My App\app.exe /min /x")", R"({R}\Program Files\My App\app.exe)", "/min /x"},
        {"whole line in quotes", R"(  "{R}\Tools\tool.exe data\cfg.ini"  )", R"({R}\Tools\tool.exe)", R"(data\cfg.ini)"},
        {"whole line in quotes", R"("{R}\Tools\absent.exe /min")", nullptr, nullptr},

        {"tab between program and arguments", "{R}\\Tools\\tool.exe\t/s", R"({R}\Tools\tool.exe)", "/s"},
        {"tab between program and arguments", "\"{R}\\Program Files\\Tool\\tool.exe\"\t-x", R"({R}\Program Files\Tool\tool.exe)", "-x"},
        {"tab between program and arguments", "{R}\\Program Files\\Tool\\tool.exe\t/quiet\t/v", R"({R}\Program Files\Tool\tool.exe)", "/quiet\t/v"},
        {"tab between program and arguments", "notepad\tdocs\\readme.txt", R"(C:\windows\system32\notepad.exe)", R"(docs\readme.txt)"},

        {"planted program at the first blank", R"({R}\Documents and Settings\User\start.exe /s)", R"({R}\Documents and Settings\User\start.exe)", "/s"},
        {"planted program at the first blank", R"({R}\Documents and Settings\User\gone.exe /s)", nullptr, nullptr},
        {"planted program at the first blank", R"({R}\Program Files\Tool\absent.exe logs\today.log)", nullptr, nullptr},
        {"planted program at the first blank", R"("{R}\Program Files\Tool\absent.exe /min")", nullptr, nullptr},
        {"planted program at the first blank", "{R}\\Program Files\\Tool\\absent.exe\t/q", nullptr, nullptr},
        {"planted program at the first blank", R"("{R}\Documents and Settings\User\gone.exe data\cfg.ini")", nullptr, nullptr},

        {"empty", "", nullptr, nullptr},
        {"empty", "     ", nullptr, nullptr},
        {"empty", "\"\"", nullptr, nullptr},
        {"empty", " \t\r\n ", nullptr, nullptr},

        {"unbalanced quotes", R"("{R}\Program Files\Tool\tool.exe /q)", R"({R}\Program Files\Tool\tool.exe)", "/q"},
        {"unbalanced quotes", R"({R}\Program Files\Tool\tool.exe" /q)", R"({R}\Program Files\Tool\tool.exe)", "/q"},
        {"unbalanced quotes", R"("{R}\Program Files\Tool\missing.exe /q)", nullptr, nullptr},

        {"control characters", "{R}\\Tools\\tool.exe /s\x01x", nullptr, nullptr},
        {"control characters", "{R}\\Tools\\tool.exe\n{R}\\Program.exe", nullptr, nullptr},
        {"control characters", "\"{R}\\Program Files\\Tool\\tool.exe\"\x1b -x", nullptr, nullptr},

        {"names nothing", R"(C:\KdNowhere\nothing.exe /x)", nullptr, nullptr},
        {"names nothing", R"("C:\KdNowhere\no thing.exe")", nullptr, nullptr},
        {"names nothing", "/x /y", nullptr, nullptr},
    };
    return rows;
}

std::string WithRoot(std::string_view text, std::string_view root)
{
    return ReplaceAll("{R}", root, text);
}

void FillCorpusSystem(MemoryCmdLnSystem& sys, std::string_view root)
{
    for (const std::string& file : CorpusFiles())
        sys.AddFile(std::string(root) + "\\" + file);
    for (const char* file : {"rundll32.exe", "notepad.exe", "control.exe", "shell32.dll"})
        sys.AddFile(std::string(kSystem) + "\\" + file);
    sys.AddFile("C:\\windows\\notepad.exe");
    sys.AddFile(R"(\\fileserver\share\tools\net.exe)");
    sys.AddFile(R"(\\fileserver\share\My Tools\sync.exe)");
    sys.SetEnv("windir", "C:\\windows");
    for (const CorpusEnv& env : CorpusEnvironment())
        sys.SetEnv(env.name, WithRoot(env.value, root));
    sys.AddAppPath(kCorpusAppPathName, WithRoot(kCorpusAppPathTarget, root));
}

std::string CheckCorpusRow(const CmdLnSystem& sys, const CmdLnCase& row, std::string_view root)
{
    const std::string line = WithRoot(row.line, root);
    std::string program = "(untouched)";
    std::string parameters = "(untouched)";
    const bool split = SplitCommandLine(sys, line, program, parameters);
    const int end = FindProgramEnd(sys, line);
    if (!row.program) {
        if (split || end != -1 || !ExtractProgramPath(sys, line).empty())
            return "expected no program, got [" + program + "] [" + parameters + "] end " + std::to_string(end);
        if (program != "(untouched)" || parameters != "(untouched)")
            return "outputs changed on failure";
        return {};
    }
    const std::string expectedProgram = WithRoot(row.program, root);
    const std::string expectedParameters = WithRoot(row.parameters, root);
    if (!split || end == -1)
        return "no program found";
    if (!SameText(program, expectedProgram) || parameters != expectedParameters)
        return "got [" + program + "] [" + parameters + "], expected [" + expectedProgram + "] [" +
               expectedParameters + "]";
    if (!SameText(ExtractProgramPath(sys, line), expectedProgram))
        return "ExtractProgramPath differs";
    return {};
}
