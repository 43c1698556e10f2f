// The controller from .NET: every TRAX_* function as a method that returns its
// outputs and throws TraxException when the library returns 0. Goes with the
// generated Trax.cs (NativeMethods, the records and the setting table).
//
//   var ctl = new Trax.Controller();
//   FloatValue[] ab = ctl.GetValues();
//   ctl.Set("offset", Controller.HeadA, 250);
//   int[] offset = ctl.Get("offset", Controller.HeadA);
//   FloatValue[] stored = ctl.GetStorageData(Controller.HeadA);
//
// The library is Trax.dll on Windows. On Linux, Mono reads the name mapping
// from the program's .config file:
//   <configuration><dllmap dll="Trax.dll" target="libtrax.so.2"/></configuration>
// and .NET (Core) 3.0 and later map it in the static constructor below.
//
// The reason of a failure comes from the library's reason tap: a file named by
// TRAX_LOG_TAP when the library loads, into which it writes one JSON line per
// call that returned 0. Controller points TRAX_LOG_TAP at a file of its own
// before the library is first called (unless the environment names one), so
// the first call into the library must go through a Controller for reasons to
// be known. A user's own TRAX_LOG and TRAX_LOG_FILE are left alone.
using System;
using System.Collections.Generic;
using System.Globalization;
using System.IO;
using System.Runtime.InteropServices;
using System.Text;

namespace Trax
{
    /// <summary>A library call returned 0. An argument is checked before anything is sent and
    /// refused with ArgumentOutOfRangeException (out of its range, named by ParamName) or
    /// ArgumentException (an unknown setting name, a wrong number of values), never with this.</summary>
    public class TraxException : Exception
    {
        /// <summary>The C function concerned, e.g. "TRAX_GetCalcData".</summary>
        public string Function { get; private set; }

        /// <summary>Why the call failed, as the library's trace words it, e.g. "refused by the
        /// controller (error 5, command 8)"; empty when the trace could not be read.</summary>
        public string Reason { get; private set; }

        /// <summary>The controller's error number (0..255) when it answered with an error reply;
        /// else null.</summary>
        public int? ErrorNumber { get; private set; }

        public TraxException(string function, string reason, int? errorNumber)
            : base(Describe(function, reason, errorNumber))
        {
            Function = function;
            Reason = reason ?? "";
            ErrorNumber = errorNumber;
        }

        static string Describe(string function, string reason, int? errorNumber)
        {
            string text = function + " failed";
            if (!string.IsNullOrEmpty(reason))
                text += ": " + reason;
            else if (errorNumber.HasValue)
                text += "; the controller answered with error " + errorNumber.Value;
            return text;
        }
    }

    /// <summary>One row of the setting table: a value's name and its inclusive range.</summary>
    public sealed class SettingField
    {
        public readonly string Name;
        public readonly int Low;
        public readonly int High;

        public SettingField(string name, int low, int high)
        {
            Name = name;
            Low = low;
            High = high;
        }
    }

    /// <summary>A setting of the table: traxctl's name, its functions, its values in argument order.</summary>
    public sealed class Setting
    {
        public readonly string Name;
        public readonly bool PerHead;
        public readonly int? Fixed;
        public readonly string Setter;
        public readonly string Getter;
        public readonly bool Ordered;
        public readonly string About;
        public readonly SettingField[] Fields;

        public Setting(string name, bool perHead, int? fixedArgument, string setter, string getter, bool ordered,
                       string about, params SettingField[] fields)
        {
            Name = name;
            PerHead = perHead;
            Fixed = fixedArgument;
            Setter = setter;
            Getter = getter;
            Ordered = ordered;
            About = about;
            Fields = fields;
        }

        public bool Readable
        {
            get { return Getter != null; }
        }
    }

    public static partial class Settings
    {
        /// <summary>The setting of that name; ArgumentException names the known ones otherwise.</summary>
        public static Setting Find(string name)
        {
            foreach (Setting s in All)
                if (s.Name == name)
                    return s;
            var names = new List<string>();
            foreach (Setting s in All)
                names.Add(s.Name);
            throw new ArgumentException("unknown setting \"" + name + "\"; known: " + string.Join(", ", names));
        }
    }

    /// <summary>The light-intensity profile of one head with its figures.</summary>
    public sealed class LightProfile
    {
        public LightData Figures;
        public int Extra;
        public byte[] Profile; // 1024 samples
    }

    /// <summary>The controller behind the library; a thin object, every call goes to the library.</summary>
    public class Controller
    {
        public const int HeadA = 0;
        public const int HeadB = 1;
        public const int BothHeads = 2;
        public const int MaxStored = 65536;
        public const int ProfileSamples = 1024;

        static Controller()
        {
            ReasonTap.Prepare();
#if NETCOREAPP3_0_OR_GREATER
            // Trax.dll is the name on Windows; Linux installs libtrax.so.2.
            if (!RuntimeInformation.IsOSPlatform(OSPlatform.Windows))
            {
                try
                {
                    NativeLibrary.SetDllImportResolver(typeof(NativeMethods).Assembly, (name, assembly, path) =>
                        name == NativeMethods.Library ? NativeLibrary.Load("libtrax.so.2") : IntPtr.Zero);
                }
                catch (InvalidOperationException)
                {
                    // The program set its own resolver for this assembly; it decides.
                }
            }
#endif
        }

        /// <summary>Loads the library (a call with an argument out of range, which sends
        /// nothing). DllNotFoundException says which is missing, the library or its USB driver,
        /// and where the simulated controller is.</summary>
        public Controller()
        {
            try
            {
                NativeMethods.TRAX_SetMode(-1);
            }
            catch (DllNotFoundException e)
            {
                throw new DllNotFoundException(LibraryProblem.Explain(e.Message), e);
            }
            ReasonTap.Opened();
        }

        // ---- results and arguments ------------------------------------------

        void Check(int result, string function)
        {
            // The first call has loaded the library, which has opened the tap.
            ReasonTap.Opened();
            if (result == 1)
                return;
            // 0 is the only failure; anything else is a library that does not
            // keep its contract, and the caller must not believe its outputs.
            // The thread's messages are taken in any case, so none pile up.
            int? posted = TakeErrorNumber();
            string reason;
            int? error;
            ReasonTap.Take(function, out reason, out error);
            if (result != 0)
                reason = "unexpected result " + result;
            throw new TraxException(function, reason, error ?? posted);
        }

        static int InRange(int value, int low, int high, string what, string function)
        {
            if (value < low || value > high)
                throw new ArgumentOutOfRangeException(what, value,
                    function + ": " + what + " must be " + low + ".." + high + "; nothing was sent");
            return value;
        }

        // ---- operating mode, values, figure data ----------------------------

        /// <summary>0 measurement mode, 1 setting mode.</summary>
        public void SetMode(int mode)
        {
            Check(NativeMethods.TRAX_SetMode(InRange(mode, 0, 1, "mode", "TRAX_SetMode")), "TRAX_SetMode");
        }

        /// <summary>The current values of head A and head B.</summary>
        public FloatValue[] GetValues()
        {
            FloatValue a, b;
            Check(NativeMethods.TRAX_GetCalcData(out a, out b), "TRAX_GetCalcData");
            return new[] { a, b };
        }

        public FigureData GetFigureData(int head)
        {
            FigureData data;
            Check(NativeMethods.TRAX_GetFigureData(InRange(head, 0, 1, "head", "TRAX_GetFigureData"), out data),
                  "TRAX_GetFigureData");
            return data;
        }

        public void ClearFigureData()
        {
            Check(NativeMethods.TRAX_ClearFigureData(), "TRAX_ClearFigureData");
        }

        // ---- data storage ---------------------------------------------------

        public void StorageInit()
        {
            Check(NativeMethods.TRAX_DataStorageInit(), "TRAX_DataStorageInit");
        }

        public void StorageStart()
        {
            Check(NativeMethods.TRAX_DataStorageStart(), "TRAX_DataStorageStart");
        }

        public void StorageStop()
        {
            Check(NativeMethods.TRAX_DataStorageStop(), "TRAX_DataStorageStop");
        }

        /// <summary>Sets up the data storage: target 0..3, count 1..65536 values per head, sampling
        /// cycle 0..9 (the setting table's "storage" row; traxctl storage setup). Ranges are
        /// checked before anything is sent (ArgumentOutOfRangeException).</summary>
        public void StorageSetup(int target, int count, int cycle)
        {
            Set("storage", target, count, cycle);
        }

        /// <summary>The data storage's set-up: target, count, cycle.</summary>
        public int[] GetStorageSetup()
        {
            return Get("storage");
        }

        /// <summary>Whether the controller is storing, and how many values the head holds.</summary>
        public void GetStorageStatus(int head, out bool storing, out int storedCount)
        {
            int state;
            Check(NativeMethods.TRAX_DataStorageGetStatus(InRange(head, 0, 1, "head", "TRAX_DataStorageGetStatus"),
                                                          out state, out storedCount),
                  "TRAX_DataStorageGetStatus");
            storing = state != 0;
        }

        /// <summary>The stored values of one head, at most maxCount (1..65536); the array is as
        /// long as the number of values returned.</summary>
        public FloatValue[] GetStorageData(int head, int maxCount = MaxStored)
        {
            const string function = "TRAX_DataStorageGetData";
            var values = new FloatValue[InRange(maxCount, 1, MaxStored, "maxCount", function)];
            int returned;
            Check(NativeMethods.TRAX_DataStorageGetData(InRange(head, 0, 1, "head", function), maxCount, values,
                                                        out returned),
                  function);
            // Never trust a count beyond the buffer handed over.
            int count = Math.Min(Math.Max(returned, 0), maxCount);
            if (count != values.Length)
                Array.Resize(ref values, count);
            return values;
        }

        // ---- light-intensity profile ----------------------------------------

        public LightProfile GetLight(int head, int selector = 0)
        {
            const string function = "TRAX_GetLight";
            var light = new LightProfile { Profile = new byte[ProfileSamples] };
            Check(NativeMethods.TRAX_GetLight(InRange(head, 0, 1, "head", function),
                                              InRange(selector, 0, 3, "selector", function), out light.Figures,
                                              out light.Extra, light.Profile),
                  function);
            return light;
        }

        // ---- control actions ------------------------------------------------

        public void SetZero(int head, bool on = true)
        {
            Check(NativeMethods.TRAX_SetZero(InRange(head, 0, 2, "head", "TRAX_SetZero"), on ? 1 : 0), "TRAX_SetZero");
        }

        public void SetTiming(int head, bool on)
        {
            Check(NativeMethods.TRAX_SetTiming(InRange(head, 0, 2, "head", "TRAX_SetTiming"), on ? 1 : 0),
                  "TRAX_SetTiming");
        }

        public void Reset(int head)
        {
            Check(NativeMethods.TRAX_SetReset(InRange(head, 0, 2, "head", "TRAX_SetReset")), "TRAX_SetReset");
        }

        public void AbleStart(int head)
        {
            Check(NativeMethods.TRAX_AbleStart(InRange(head, 0, 1, "head", "TRAX_AbleStart")), "TRAX_AbleStart");
        }

        public void AbleStop()
        {
            Check(NativeMethods.TRAX_AbleStop(), "TRAX_AbleStop");
        }

        public void AbleCancel()
        {
            Check(NativeMethods.TRAX_AbleCancel(), "TRAX_AbleCancel");
        }

        // ---- settings, by the names of the setting table --------------------

        /// <summary>Writes a setting: Set("offset", HeadA, 250), Set("able-min-max", HeadB, 10, 90),
        /// Set("sampling-cycle", 2). Head settings take the head first, then the values in the
        /// table's order. Ranges are checked before anything is sent.</summary>
        public void Set(string name, params int[] args)
        {
            Setting s = Settings.Find(name);
            int lead = s.PerHead ? 1 : 0;
            if (args == null || args.Length != lead + s.Fields.Length)
                throw new ArgumentException(name + " takes " + (s.PerHead ? "a head and " : "") + s.Fields.Length +
                                            " value(s), got " + (args == null ? 0 : args.Length));
            var call = new List<int>();
            if (s.PerHead)
                call.Add(InRange(args[0], 0, 1, "head", s.Setter));
            if (s.Fixed.HasValue)
                call.Add(s.Fixed.Value);
            for (int i = 0; i < s.Fields.Length; i++)
            {
                SettingField f = s.Fields[i];
                call.Add(InRange(args[lead + i], f.Low, f.High, f.Name, s.Setter));
            }
            if (s.Ordered && args[lead] > args[lead + 1])
                throw new ArgumentOutOfRangeException(s.Fields[0].Name, args[lead],
                    s.Setter + ": " + s.Fields[0].Name + " must not exceed " + s.Fields[1].Name + "; nothing was sent");
            Check(Settings.CallSetter(s.Setter, call.ToArray()), s.Setter);
        }

        /// <summary>Reads a controller-wide setting: its values in the order Set takes them.</summary>
        public int[] Get(string name)
        {
            return Read(Settings.Find(name), null);
        }

        /// <summary>Reads a head setting of head 0 (A) or 1 (B).</summary>
        public int[] Get(string name, int head)
        {
            return Read(Settings.Find(name), head);
        }

        int[] Read(Setting s, int? head)
        {
            if (!s.Readable)
                throw new ArgumentException(s.Name + " can be written but not read");
            if (s.PerHead != head.HasValue)
                throw new ArgumentException(s.Name + (s.PerHead ? " needs a head (HeadA or HeadB)"
                                                                : " belongs to the controller and takes no head"));
            var call = new List<int>();
            if (head.HasValue)
                call.Add(InRange(head.Value, 0, 1, "head", s.Getter));
            if (s.Fixed.HasValue)
                call.Add(s.Fixed.Value);
            var values = new int[s.Fields.Length];
            Check(Settings.CallGetter(s.Getter, call.ToArray(), values), s.Getter);
            return values;
        }

        // ---- the controller's error number (Windows) ------------------------

        [StructLayout(LayoutKind.Sequential)]
        struct Msg
        {
            public IntPtr Hwnd;
            public uint Message;
            public UIntPtr WParam;
            public IntPtr LParam;
            public uint Time;
            public int X;
            public int Y;
        }

        [DllImport("user32.dll")]
        static extern bool PeekMessage(out Msg message, IntPtr hwnd, uint first, uint last, uint remove);

        [DllImport("user32.dll")]
        static extern bool PostThreadMessage(uint thread, uint message, UIntPtr wParam, IntPtr lParam);

        [DllImport("kernel32.dll")]
        static extern uint GetCurrentThreadId();

        /// <summary>On Windows the library posts an error reply's number to the calling thread as
        /// message 0; this takes the last one. Other messages met on the way are posted again.</summary>
        static int? TakeErrorNumber()
        {
            if (Environment.OSVersion.Platform != PlatformID.Win32NT)
                return null;
            const uint remove = 1;
            var threadOnly = new IntPtr(-1);
            int? number = null;
            var others = new List<Msg>();
            Msg m;
            while (PeekMessage(out m, threadOnly, 0, 0, remove))
            {
                if (m.Message == 0 && m.LParam == IntPtr.Zero)
                    number = (int)(m.WParam.ToUInt64() & 0xFF);
                else
                    others.Add(m);
            }
            uint thread = GetCurrentThreadId();
            foreach (Msg o in others)
                PostThreadMessage(thread, o.Message, o.WParam, o.LParam);
            return number;
        }
    }
    /// <summary>Why the library did not load, in words that say which file is missing.</summary>
    static class LibraryProblem
    {
        [DllImport("libc.so.6", EntryPoint = "dlopen")]
        static extern IntPtr DlOpen(string file, int flags);

        [DllImport("libc.so.6", EntryPoint = "dlerror")]
        static extern IntPtr DlError();

        internal static string Explain(string runtimeWords)
        {
            if (Environment.OSVersion.Platform == PlatformID.Win32NT)
            {
                string beside = Path.Combine(AppDomain.CurrentDomain.BaseDirectory, "Trax.dll");
                if (!File.Exists(beside))
                    return "Trax.dll was not found: put it beside the program (" + runtimeWords + ")";
                return "Trax.dll is there, but its USB driver QelUsbDrv.dll is not: put it beside the program, " +
                       "in a folder on PATH or in a system folder; to try without hardware, copy the kit's " +
                       "simulator\\" + (IntPtr.Size == 8 ? "x64" : "x86") + "\\QelUsbDrv.dll beside the program";
            }
            string why;
            try
            {
                // The loader's own words: they name the file it could not find.
                if (DlOpen("libtrax.so.2", 2) != IntPtr.Zero)
                    return runtimeWords;
                why = Marshal.PtrToStringAnsi(DlError()) ?? runtimeWords;
            }
            catch (Exception e) when (e is DllNotFoundException || e is EntryPointNotFoundException)
            {
                return runtimeWords;
            }
            if (!why.Contains("libQelUsbDrv"))
                return "libtrax.so.2 was not found (" + why + "): install libtrax2, or put its folder on " +
                       "LD_LIBRARY_PATH";
            string simulator = null;
            var folders = new List<string>((Environment.GetEnvironmentVariable("LD_LIBRARY_PATH") ?? "").Split(':'));
            folders.AddRange(new[] { "/usr/lib/x86_64-linux-gnu", "/usr/lib/aarch64-linux-gnu", "/usr/local/lib", "/usr/lib" });
            foreach (string folder in folders)
            {
                string place = Path.Combine(folder, "trax", "simulator");
                if (folder.Length > 0 && File.Exists(Path.Combine(place, "libQelUsbDrv.so")))
                {
                    simulator = place;
                    break;
                }
            }
            return "libtrax.so.2 is there, but its USB driver libQelUsbDrv.so is not (" + why + "): the " +
                   "controller's driver installation puts it on the loader's path; to try without hardware, " +
                   (simulator != null ? "LD_LIBRARY_PATH=" + simulator + " uses the simulated controller"
                                      : "use the simulated controller of trax-tools (traxctl-sim)");
        }
    }

    /// <summary>The tap's lines as one process reads them (the contract is in the library's
    /// trace/Trace.h): fed what the file holds, in order, it keeps each failure line of this
    /// process until the thread that made the call asks for it, so that no thread takes
    /// another's reason.</summary>
    class ReasonReader
    {
        const int MaxHeld = 512;  // lines of threads that never ask, oldest dropped first
        readonly long process;
        readonly List<byte> partial = new List<byte>();
        readonly List<Held> held = new List<Held>();

        struct Held
        {
            public long Thread;
            public string Function, Reason;
            public int? Error;
        }

        internal ReasonReader(long process)
        {
            this.process = process;
        }

        /// <summary>The version of this process's last start-up line; null before one.</summary>
        internal string StartupVersion { get; private set; }
        internal bool StartupUsable { get; private set; }
        internal int HeldLines { get { return held.Count; } }

        /// <summary>Adds bytes that followed the last ones fed; a line not yet ended waits
        /// for its end.</summary>
        internal void Feed(byte[] bytes, int count)
        {
            for (int i = 0; i < count; i++)
            {
                if (bytes[i] != (byte)'\n')
                {
                    partial.Add(bytes[i]);
                    continue;
                }
                Add(Encoding.UTF8.GetString(partial.ToArray()));
                partial.Clear();
            }
        }

        void Add(string line)
        {
            if (!line.StartsWith("{", StringComparison.Ordinal))
                return;
            long? from = ReasonTap.JsonNumber(line, "process");
            if (from.HasValue && from.Value != process)
                return;  // another process sharing a user's tap
            string version = ReasonTap.JsonString(line, "trax");
            if (version != null)
            {
                StartupVersion = version;
                StartupUsable = line.Contains("\"usable\":true");
                return;
            }
            string function = ReasonTap.JsonString(line, "call");
            if (function == null || !line.EndsWith("}", StringComparison.Ordinal))
                return;
            int? error = null;
            long? number = ReasonTap.JsonNumber(line, "error");
            if (number.HasValue && number.Value >= 0 && number.Value <= 255)
                error = (int)number.Value;
            held.Add(new Held
            {
                Thread = ReasonTap.JsonNumber(line, "thread") ?? 0,
                Function = function,
                Reason = ReasonTap.JsonString(line, "reason") ?? "",
                Error = error,
            });
            if (held.Count > MaxHeld)
                held.RemoveAt(0);
        }

        /// <summary>The reason and error number of the failure of function that thread just
        /// saw: the last line of that thread naming it. Every line of that thread is used up;
        /// other threads' lines stay.</summary>
        internal void Take(string function, long thread, out string reason, out int? error)
        {
            reason = "";
            error = null;
            for (int i = 0; i < held.Count;)
            {
                if (held[i].Thread != thread)
                {
                    i++;
                    continue;
                }
                if (held[i].Function == function)
                {
                    reason = held[i].Reason;
                    error = held[i].Error;
                }
                held.RemoveAt(i);
            }
        }
    }

    /// <summary>The library's reason tap (TRAX_LOG_TAP): one JSON line per failed call. The
    /// file never outlives the process: on Windows it is deleted when its last handle closes
    /// (the library opens it with delete sharing), elsewhere its name goes once the library
    /// has opened it. TRAX_LOG_TAP_PROCESS names this process as its owner, so that a child
    /// makes a tap of its own and a child's library leaves this one alone.</summary>
    static class ReasonTap
    {
        static readonly object Gate = new object();
        static string path;
        static FileStream file;  // open for reading from the start
        static bool owned;       // made here; its name goes once the library has opened it
        static long readTo;      // what has been fed to the reader
        static readonly ReasonReader Reader = new ReasonReader(CurrentProcess());

        static bool IsWindows
        {
            get { return Environment.OSVersion.Platform == PlatformID.Win32NT; }
        }

        [DllImport("libc.so.6", EntryPoint = "setenv")]
        static extern int SetEnvPosix(string name, string value, int overwrite);

        [DllImport("msvcrt.dll", EntryPoint = "_putenv_s", CharSet = CharSet.Ansi)]
        static extern int PutEnvWindows(string name, string value);

        [DllImport("kernel32.dll", EntryPoint = "GetCurrentThreadId")]
        static extern uint WindowsThreadId();

        [DllImport("libc.so.6", EntryPoint = "gettid")]
        static extern int PosixThreadId();

        static long CurrentProcess()
        {
            return System.Diagnostics.Process.GetCurrentProcess().Id;
        }

        /// <summary>The calling thread's id as the library writes it ("thread"); -1 when not
        /// known, which matches no line.</summary>
        static long CurrentThread()
        {
            try
            {
                return IsWindows ? (long)WindowsThreadId() : PosixThreadId();
            }
            catch (Exception e) when (e is DllNotFoundException || e is EntryPointNotFoundException)
            {
                return -1;
            }
        }

        static void SetVariable(string name, string value)
        {
            // The library reads its environment with the C run time's getenv,
            // which keeps a copy of its own on both systems.
            Environment.SetEnvironmentVariable(name, value);
            if (IsWindows)
                PutEnvWindows(name, value);
            else
                SetEnvPosix(name, value, 1);
        }

        /// <summary>Before the library loads: use the tap the environment names when no
        /// other process owns it (from its current end), else make one. Without a tap the
        /// reasons stay empty, nothing else.</summary>
        internal static void Prepare()
        {
            lock (Gate)
            {
                try
                {
                    string given = Environment.GetEnvironmentVariable("TRAX_LOG_TAP");
                    string owner = Environment.GetEnvironmentVariable("TRAX_LOG_TAP_PROCESS");
                    string self = CurrentProcess().ToString(CultureInfo.InvariantCulture);
                    if (!string.IsNullOrEmpty(given) && (string.IsNullOrEmpty(owner) || owner == self))
                    {
                        path = given;
                        readTo = File.Exists(given) ? new FileInfo(given).Length : 0;
                        return;
                    }
                    string folder = Path.GetTempPath();
                    for (int attempt = 0; file == null && attempt < 100; attempt++)
                    {
                        string name = Path.Combine(folder, "trax-tap-" + self + "-" + attempt + ".jsonl");
                        try
                        {
                            file = new FileStream(name, FileMode.CreateNew, FileAccess.ReadWrite,
                                                  FileShare.ReadWrite | FileShare.Delete, 4096,
                                                  IsWindows ? FileOptions.DeleteOnClose : FileOptions.None);
                            path = name;
                        }
                        catch (IOException) when (File.Exists(name))
                        {
                            // Someone else's: the next name.
                        }
                    }
                    if (file == null)
                        return;
                    SetVariable("TRAX_LOG_TAP", path);
                    SetVariable("TRAX_LOG_TAP_PROCESS", self);
                    owned = true;
                    AppDomain.CurrentDomain.ProcessExit += (sender, e) => Opened();
                }
                catch (Exception e) when (e is IOException || e is UnauthorizedAccessException ||
                                          e is DllNotFoundException || e is EntryPointNotFoundException)
                {
                    // No tap: failures are still reported, without their reason.
                }
            }
        }

        /// <summary>After a library call, so the library has loaded and opened the tap: its
        /// name goes where the system allows it (Windows deletes it at the last close).</summary>
        internal static void Opened()
        {
            lock (Gate)
            {
                if (!owned)
                    return;
                owned = false;
                if (!IsWindows)
                {
                    try
                    {
                        File.Delete(path);
                    }
                    catch (IOException)
                    {
                    }
                }
            }
        }

        /// <summary>The reason and error number of this thread's last failure of function;
        /// "" and null when the tap has none.</summary>
        internal static void Take(string function, out string reason, out int? error)
        {
            reason = "";
            error = null;
            lock (Gate)
            {
                if (path == null)
                    return;
                try
                {
                    if (file == null)
                        file = new FileStream(path, FileMode.Open, FileAccess.Read,
                                              FileShare.ReadWrite | FileShare.Delete);
                    file.Seek(readTo, SeekOrigin.Begin);
                    var buffer = new byte[65536];
                    int n;
                    while ((n = file.Read(buffer, 0, buffer.Length)) > 0)
                    {
                        Reader.Feed(buffer, n);
                        readTo += n;
                    }
                }
                catch (IOException)
                {
                }
                catch (UnauthorizedAccessException)
                {
                }
                Reader.Take(function, CurrentThread(), out reason, out error);
            }
        }

        /// <summary>The first string value of key in one JSON line, unescaped.</summary>
        internal static string JsonString(string line, string key)
        {
            string marker = "\"" + key + "\":\"";
            int at = line.IndexOf(marker, StringComparison.Ordinal);
            if (at < 0)
                return null;
            var text = new StringBuilder();
            for (at += marker.Length; at < line.Length && line[at] != '"'; at++)
            {
                char c = line[at];
                if (c != '\\' || at + 1 >= line.Length)
                {
                    text.Append(c);
                    continue;
                }
                char escaped = line[++at];
                if (escaped == 'u' && at + 4 < line.Length)
                {
                    text.Append((char)int.Parse(line.Substring(at + 1, 4), NumberStyles.HexNumber,
                                                CultureInfo.InvariantCulture));
                    at += 4;
                }
                else
                {
                    text.Append(escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped);
                }
            }
            return text.ToString();
        }

        /// <summary>The first integer value of key in one JSON line.</summary>
        internal static long? JsonNumber(string line, string key)
        {
            string marker = "\"" + key + "\":";
            int at = line.IndexOf(marker, StringComparison.Ordinal);
            if (at < 0)
                return null;
            int start = at + marker.Length, end = start;
            while (end < line.Length && (char.IsDigit(line[end]) || (end == start && line[end] == '-')))
                end++;
            long value;
            if (!long.TryParse(line.Substring(start, end - start), NumberStyles.AllowLeadingSign,
                               CultureInfo.InvariantCulture, out value))
                return null;
            return value;
        }
    }
}
