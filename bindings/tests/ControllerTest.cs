// The .NET binding against the real library and the simulated controller:
//   mono ControllerTest.exe SIZEOF_FLOATVALUE SIZEOF_FIGUREDATA SIZEOF_LIGHTDATA
// with the sizes as the C compiler sees them in trax.h. Prints "N passed, M failed".
using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using Trax;

static class ControllerTest
{
    static int passed, failed;

    static void Expect(bool condition, string what)
    {
        if (!condition)
            throw new Exception("expected " + what);
    }

    static void ExpectThrows<T>(Action action, string what, Func<T, bool> check) where T : Exception
    {
        try
        {
            action();
        }
        catch (T e)
        {
            Expect(check(e), what + " (got: " + e.Message + ")");
            return;
        }
        throw new Exception("expected " + typeof(T).Name + ": " + what);
    }

    static int Main(string[] args)
    {
        if (args.Length == 1 && args[0] == "--driver-missing")
        {
            // Run with a libtrax.so.2 whose driver cannot be found.
            try
            {
                new Controller();
            }
            catch (DllNotFoundException e)
            {
                bool told = e.Message.StartsWith("libtrax.so.2 is there, but its USB driver libQelUsbDrv.so is not");
                Console.WriteLine(told ? "driver named" : "said: " + e.Message);
                return told ? 0 : 1;
            }
            Console.WriteLine("the library loaded");
            return 1;
        }
        if (args.Length != 3)
        {
            Console.Error.WriteLine("usage: ControllerTest.exe SIZEOF_FLOATVALUE SIZEOF_FIGUREDATA SIZEOF_LIGHTDATA");
            return 2;
        }
        var ctl = new Controller();
        var cases = new List<KeyValuePair<string, Action>>();
        Action<string, Action> add = (name, body) => cases.Add(new KeyValuePair<string, Action>(name, body));

        add("records have the C header's sizes", () =>
        {
            Expect(Marshal.SizeOf(typeof(FloatValue)) == int.Parse(args[0]), "FloatValue " + args[0] + " bytes");
            Expect(Marshal.SizeOf(typeof(FigureData)) == int.Parse(args[1]), "FigureData " + args[1] + " bytes");
            Expect(Marshal.SizeOf(typeof(LightData)) == int.Parse(args[2]), "LightData " + args[2] + " bytes");
        });
        add("values of both heads are valid and finite", () =>
        {
            FloatValue[] ab = ctl.GetValues();
            Expect(ab.Length == 2, "two values");
            foreach (FloatValue v in ab)
                Expect(v.Status == ValueStatus.Valid && !float.IsNaN(v.Value) && !float.IsInfinity(v.Value),
                       "a valid value, got status " + v.Status + " value " + v.Value);
        });
        add("figure data fills all seven values and four integers", () =>
        {
            FigureData f = ctl.GetFigureData(Controller.HeadB);
            Expect(f.Values != null && f.Values.Length == 7 && f.Integers != null && f.Integers.Length == 4,
                   "arrays of 7 and 4");
        });
        add("storage of 65536 values, read whole and in part", () =>
        {
            ctl.Set("storage", 0, 65536, 0);
            ctl.StorageInit();
            ctl.StorageStart();
            ctl.StorageStop();
            bool storing;
            int count;
            ctl.GetStorageStatus(Controller.HeadA, out storing, out count);
            Expect(!storing && count == 65536, "65536 stored, got " + count);
            FloatValue[] all = ctl.GetStorageData(Controller.HeadA);
            Expect(all.Length == 65536, "65536 values, got " + all.Length);
            int valid = 0;
            foreach (FloatValue v in all)
                if (v.Status == ValueStatus.Valid)
                    valid++;
            Expect(valid > 0, "valid values among them");
            FloatValue[] part = ctl.GetStorageData(Controller.HeadA, 100);
            Expect(part.Length == 100 && part[99].Status == all[99].Status && part[99].Value.Equals(all[99].Value),
                   "the first 100 again");
        });
        add("light profile of 1024 samples with its figures", () =>
        {
            LightProfile light = ctl.GetLight(Controller.HeadA, 0);
            Expect(light.Profile.Length == 1024, "1024 samples");
            Expect(Array.Exists(light.Profile, b => b != 0), "a profile that is not all zero");
            Expect(light.Figures.Values.Length == 4, "four figures");
            foreach (int v in light.Figures.Values)
                Expect(v >= 0 && v <= 65535, "figures 0..65535, got " + v);
            Expect(light.Extra >= 0 && light.Extra <= 65535, "extra 0..65535");
        });
        add("settings written and read back by the table's names", () =>
        {
            ctl.Set("offset", Controller.HeadA, -1234);
            Expect(ctl.Get("offset", Controller.HeadA)[0] == -1234, "offset -1234");
            ctl.Set("scaling-1", Controller.HeadB, 1, -2, 3, -4);
            int[] s = ctl.Get("scaling-1", Controller.HeadB);
            Expect(s.Length == 4 && s[0] == 1 && s[1] == -2 && s[2] == 3 && s[3] == -4, "scaling-1 1 -2 3 -4");
            ctl.Set("sampling-cycle", 3);
            Expect(ctl.Get("sampling-cycle")[0] == 3, "sampling-cycle 3");
            ctl.Set("panel-lock", 0);
        });
        add("every readable setting reads back through the generated dispatch", () =>
        {
            foreach (Setting s in Settings.All)
                if (s.Readable)
                    Expect((s.PerHead ? ctl.Get(s.Name, Controller.HeadB) : ctl.Get(s.Name)).Length == s.Fields.Length,
                           s.Name + " has " + s.Fields.Length + " value(s)");
        });
        add("a call the controller refuses throws with its function, the library's reason and the error", () =>
        {
            // The simulated controller refuses a stop with no adjustment running.
            ExpectThrows<TraxException>(() => ctl.AbleStop(), "TRAX_AbleStop with its reason",
                                        e => e.Function == "TRAX_AbleStop" && e.ErrorNumber == 5 &&
                                             e.Reason == "refused by the controller (error 5, command 8)" &&
                                             e.Message == "TRAX_AbleStop failed: " + e.Reason);
            // Lines already read, and those of calls made past the class, do not hide a later one.
            Expect(NativeMethods.TRAX_SetOffset(0, 1000000) == 0, "a raw call refused");
            ctl.GetValues();
            ExpectThrows<TraxException>(() => ctl.AbleCancel(), "TRAX_AbleCancel with its reason",
                                        e => e.Function == "TRAX_AbleCancel" && e.ErrorNumber == 5 &&
                                             e.Reason.StartsWith("refused by the controller"));
            // Run with a tap the environment names, which holds an earlier program's line
            // for the same call: the newest line is the one that counts.
            ExpectThrows<TraxException>(() => ctl.AbleStop(), "not the earlier program's line",
                                        e => e.Reason.StartsWith("refused by the controller"));
        });
        add("the tap's JSON is read as written", () =>
        {
            var lines = new[]
            {
                new[] { "{\"reason\":\"plain\"}", "plain" },
                new[] { "{\"reason\":\"say \\\"no\\\" \\\\ here\"}", "say \"no\" \\ here" },
                new[] { "{\"reason\":\"caf\\u00e9\\nnext\"}", "caf\u00e9\nnext" },
                new[] { "{\"other\":\"x\"}", null },
            };
            foreach (var c in lines)
                Expect(ReasonTap.JsonString(c[0], "reason") == c[1], c[0] + " gives " + (c[1] ?? "nothing"));
            Expect(ReasonTap.JsonNumber("{\"error\":255,\"command\":-3}", "error") == 255, "error 255");
            Expect(ReasonTap.JsonNumber("{\"error\":255,\"command\":-3}", "command") == -3, "command -3");
            Expect(ReasonTap.JsonNumber("{\"error\":\"x\"}", "error") == null, "no number");
        });
        add("the shared tap fixture gives each thread its own last reason", () =>
        {
            // The same lines and questions as the C++ and Python readers' tests.
            string data = Environment.GetEnvironmentVariable("TRAX_TEST_DATA");
            byte[] lines = System.IO.File.ReadAllBytes(System.IO.Path.Combine(data, "reason-tap.jsonl"));
            string[] questions = System.IO.File.ReadAllLines(System.IO.Path.Combine(data, "reason-tap-takes.jsonl"));
            foreach (int piece in new[] { lines.Length, 7 })
            {
                var reader = new ReasonReader(4242);
                for (int at = 0; at < lines.Length; at += piece)
                {
                    int n = Math.Min(piece, lines.Length - at);
                    var part = new byte[n];
                    Array.Copy(lines, at, part, 0, n);
                    reader.Feed(part, n);
                }
                Expect(reader.StartupVersion == ReasonTap.JsonString(questions[0], "startup"), "this process's start-up");
                Expect(reader.StartupUsable, "usable");
                for (int i = 1; i < questions.Length; i++)
                {
                    string q = questions[i];
                    string reason;
                    int? error;
                    reader.Take(ReasonTap.JsonString(q, "call"), ReasonTap.JsonNumber(q, "thread").Value, out reason,
                                out error);
                    long? expected = ReasonTap.JsonNumber(q, "error");
                    Expect(reason == ReasonTap.JsonString(q, "reason") && error == expected,
                           q + " (got " + reason + ", " + error + ", pieces of " + piece + ")");
                }
                Expect(reader.HeldLines == 0, "lines of threads that asked are used up");
            }
        });
        add("the storage is set up by its own method, its ranges checked first", () =>
        {
            ctl.StorageSetup(2, 500, 3);
            int[] setup = ctl.GetStorageSetup();
            Expect(setup.Length == 3 && setup[0] == 2 && setup[1] == 500 && setup[2] == 3,
                   "target 2, count 500, cycle 3, got " + string.Join(",", setup));
            ExpectThrows<ArgumentOutOfRangeException>(() => ctl.StorageSetup(2, 65537, 3), "count range",
                                                      e => e.ParamName == "count" && e.Message.Contains("1..65536"));
        });
        add("out-of-range arguments are refused before anything is sent", () =>
        {
            ExpectThrows<ArgumentOutOfRangeException>(() => ctl.Set("offset", Controller.HeadA, 1000000), "offset range",
                                                      e => e.Message.Contains("-999999..999999"));
            ExpectThrows<ArgumentOutOfRangeException>(() => ctl.Set("able-min-max", Controller.HeadA, 50, 10),
                                                      "min above max", e => e.Message.Contains("must not exceed"));
            ExpectThrows<ArgumentOutOfRangeException>(() => ctl.GetStorageData(Controller.HeadA, 65537), "maxCount",
                                                      e => e.ParamName == "maxCount");
            ExpectThrows<ArgumentOutOfRangeException>(() => ctl.GetFigureData(2), "head 2", e => e.ParamName == "head");
            // The library's own check, without the class in front of it.
            Expect(NativeMethods.TRAX_SetOffset(0, 1000000) == 0, "TRAX_SetOffset out of range returns 0");
            Expect(ctl.Get("offset", Controller.HeadA)[0] == -1234, "offset unchanged");
        });
        add("wrong setting names and shapes are refused", () =>
        {
            ExpectThrows<ArgumentException>(() => ctl.Set("no-such-setting", 1), "unknown name",
                                            e => e.Message.Contains("known: able-mode"));
            ExpectThrows<ArgumentException>(() => ctl.Set("offset", 250), "head missing", e => e.Message.Contains("takes"));
            ExpectThrows<ArgumentException>(() => ctl.Get("sampling-cycle", Controller.HeadA), "controller setting with head",
                                            e => e.Message.Contains("takes no head"));
            ExpectThrows<ArgumentException>(() => ctl.Get("panel-lock"), "write-only", e => e.Message.Contains("not read"));
        });

        foreach (var c in cases)
        {
            try
            {
                c.Value();
                passed++;
                Console.WriteLine("ok   " + c.Key);
            }
            catch (Exception e)
            {
                failed++;
                Console.WriteLine("FAIL " + c.Key + ": " + e.Message);
            }
        }
        Console.WriteLine(passed + " passed, " + failed + " failed");
        return failed == 0 ? 0 : 1;
    }
}
