// MinimalClient: the minimal quote client in C#, on the orvquote library's C interface through
// P/Invoke. It prints the same lines as the C++ and C minimal examples: it connects to a quote
// server, logs in, registers the symbols named on the command line and prints one line per
// quote for a number of seconds.
//
//   MinimalClient [--server IP:PORT] [--user NAME] [--password TEXT] [--seconds N] [SYMBOL ...]
//
// Defaults: 127.0.0.1:7100, user demo, password demo, 10 seconds, the symbol Au(T+D); the
// simulator that comes with the library (oqs_sim) answers to exactly these.
//
// It uses pull mode: the library queues quotes and events and this program's one thread takes
// them, so no managed code ever runs on a library thread (no delegates to keep alive, no
// callbacks into the runtime). The records are blittable structs: a poll copies quotes straight
// into a managed array, with nothing allocated per quote.
//
// Build and run:
//   Windows (.NET Framework's csc, or a .NET SDK project with AllowUnsafeBlocks):
//     csc /unsafe MinimalClient.cs         then orvquote.dll next to MinimalClient.exe
//   Linux (Debian's mono-mcs and mono-runtime):
//     mcs -unsafe MinimalClient.cs
//     LD_LIBRARY_PATH=/path/to/lib mono MinimalClient.exe     (finds liborvquote.so)
using System;
using System.Globalization;
using System.Runtime.InteropServices;
using System.Text;

// orvq_quote: 345 bytes, packed, little-endian, every field at its C offset.
[StructLayout(LayoutKind.Explicit, Size = 345)]
unsafe struct OrvqQuote {
    [FieldOffset(0)] public fixed byte TradingDay[9];
    [FieldOffset(9)] public fixed byte Symbol[31];
    [FieldOffset(40)] public fixed byte ExchangeName[9];
    [FieldOffset(49)] public fixed byte ExchangeSymbol[31];
    [FieldOffset(80)] public double MarketValue1;  // last price
    [FieldOffset(88)] public double MarketValue2;
    [FieldOffset(96)] public double MarketValue3;
    [FieldOffset(104)] public double MarketValue4;
    [FieldOffset(112)] public double MarketValue5;
    [FieldOffset(120)] public double MarketValue6;
    [FieldOffset(128)] public double MarketValue7;
    [FieldOffset(136)] public int MarketCount1;  // volume
    [FieldOffset(140)] public double MarketValue8;
    [FieldOffset(148)] public double MarketValue9;
    [FieldOffset(156)] public double MarketValue10;
    [FieldOffset(164)] public double MarketValue11;
    [FieldOffset(172)] public double MarketValue12;
    [FieldOffset(180)] public double MarketValue13;
    [FieldOffset(188)] public double MarketValue14;
    [FieldOffset(196)] public double MarketValue15;
    [FieldOffset(204)] public fixed byte TimeText[9];
    [FieldOffset(213)] public int TimeValue;
    // Ten depth levels of 12 bytes, each a double value and an int count: 0-4 bids, 5-9 asks.
    [FieldOffset(217)] public fixed byte DepthLevels[120];
    [FieldOffset(337)] public double MarketValue16;
}

// orvq_event: natural alignment, as the C compiler lays it out.
[StructLayout(LayoutKind.Explicit, Size = 1056)]
unsafe struct OrvqEvent {
    [FieldOffset(0)] public uint Size;
    [FieldOffset(4)] public int Kind;
    [FieldOffset(8)] public int ExchangeCode;
    [FieldOffset(12)] public int Value;
    [FieldOffset(16)] public long TimeNs;
    [FieldOffset(24)] public int Length;
    [FieldOffset(28)] public fixed byte Text[1024];
}

static class Orvq {
    // "orvquote": orvquote.dll on Windows, liborvquote.so on Linux.
    const string Library = "orvquote";

    public const int AbiVersion = 2;
    public const int EventLoginReply = 3, EventRegisterReply = 5, EventSymbol = 7;
    public const int EventDisconnected = 2;

    [DllImport(Library)] public static extern int orvq_abi_version();
    [DllImport(Library)] public static extern int orvq_quote_size();
    [DllImport(Library)] public static extern int orvq_create(IntPtr callbacks, IntPtr user,
                                                              int queueCapacity, out IntPtr client);
    [DllImport(Library)] public static extern int orvq_destroy(IntPtr client);
    [DllImport(Library)] public static extern int orvq_connect(IntPtr client, byte[] host, int port);
    [DllImport(Library)] public static extern int orvq_login(IntPtr client, byte[] user,
                                                             byte[] password);
    [DllImport(Library)] public static extern int orvq_register(IntPtr client, byte exchangeCode,
                                                                byte[] symbol);
    [DllImport(Library)] public static extern int orvq_query_symbols(IntPtr client);
    [DllImport(Library)] public static extern int orvq_poll_quotes(IntPtr client,
        [Out] OrvqQuote[] quotes, [Out] byte[] exchangeCodes, IntPtr receiveNs, int max,
        int timeoutMs);
    [DllImport(Library)] public static extern int orvq_next_event(IntPtr client,
                                                                  ref OrvqEvent e, int timeoutMs);

    // A text for the library: its bytes and a terminator.
    public static byte[] Text(string s) {
        return Encoding.UTF8.GetBytes(s + "\0");
    }

    // A text field of `width` bytes, up to its terminator.
    public static unsafe string Field(byte* p, int width) {
        int n = 0;
        while (n < width && p[n] != 0) ++n;
        return Encoding.UTF8.GetString(p, n);
    }
}

static class MinimalClient {
    static string ip = "127.0.0.1", user = "demo", password = "demo";
    static int port = 7100, seconds = 10;
    static string[] symbols;
    static bool[] listed;  // found in the server's symbol list

    // Null, or what is wrong with the command line.
    static string Parse(string[] args) {
        var wanted = new System.Collections.Generic.List<string>();
        for (int i = 0; i < args.Length; ++i) {
            string arg = args[i];
            if (arg != "--server" && arg != "--user" && arg != "--password" && arg != "--seconds") {
                if (arg.StartsWith("-")) return "unknown option";
                wanted.Add(arg);
                continue;
            }
            if (i + 1 == args.Length) return "an option wants a value";
            string value = args[++i];
            if (arg == "--server") {
                int colon = value.LastIndexOf(':');
                if (colon <= 0 || colon > 15 || !int.TryParse(value.Substring(colon + 1),
                        NumberStyles.None, CultureInfo.InvariantCulture, out port) ||
                    port < 1 || port > 65535) {
                    return "--server wants IP:PORT";
                }
                ip = value.Substring(0, colon);
            } else if (arg == "--user") {
                user = value;
                if (user.Length > 15) return "--user: at most 15 characters";
            } else if (arg == "--password") {
                password = value;
                if (password.Length > 32) return "--password: at most 32 characters";
            } else if (!int.TryParse(value, NumberStyles.None, CultureInfo.InvariantCulture,
                           out seconds) || seconds < 1 || seconds > 86400) {
                return "--seconds wants a whole number from 1 to 86400";
            }
        }
        if (wanted.Count == 0) wanted.Add("Au(T+D)");
        symbols = wanted.ToArray();
        listed = new bool[symbols.Length];
        return null;
    }

    // One event from the library's queue. Returns true when it was the login's outcome
    // (loggedIn says which). Registering needs the exchange code, which the symbol list gives.
    static unsafe bool HandleEvent(IntPtr client, ref OrvqEvent e, out bool loggedIn) {
        loggedIn = false;
        string text;
        fixed (byte* p = e.Text) text = Orvq.Field(p, e.Length);
        switch (e.Kind) {
            case Orvq.EventLoginReply:
                if (e.Value == 0) Console.Error.WriteLine("MinimalClient: login failed: " + text);
                loggedIn = e.Value != 0;
                return true;
            case Orvq.EventSymbol:
                for (int i = 0; i < symbols.Length; ++i) {
                    if (e.Value != 0 && !listed[i]) {
                        Console.Error.WriteLine("MinimalClient: " + symbols[i] +
                                                " is not in the server's list");
                    } else if (e.Value == 0 && symbols[i] == text) {
                        listed[i] = true;
                        Orvq.orvq_register(client, (byte)e.ExchangeCode, Orvq.Text(text));
                    }
                }
                return false;
            case Orvq.EventRegisterReply:
                Console.WriteLine((e.Value != 0 ? "registered " : "refused ") + text);
                return false;
            case Orvq.EventDisconnected:
                Console.Error.WriteLine("MinimalClient: disconnected");
                return false;
            default:  // log lines and the rest
                return false;
        }
    }

    static unsafe void PrintQuote(ref OrvqQuote q, byte exchangeCode) {
        fixed (OrvqQuote* p = &q) {
            byte* depth = p->DepthLevels;
            Console.WriteLine(string.Format(CultureInfo.InvariantCulture,
                "{0,-10} {1} {2}.{3:D3}  last {4:F2}  bid {5:F2} x {6}  ask {7:F2} x {8}  volume {9}",
                Orvq.Field(p->Symbol, 31), (char)exchangeCode, Orvq.Field(p->TimeText, 9),
                p->TimeValue, p->MarketValue1, *(double*)depth, *(int*)(depth + 8),
                *(double*)(depth + 60), *(int*)(depth + 68), p->MarketCount1));
        }
    }

    // Waits up to `limit` seconds for the login's outcome; true when logged in.
    static bool WaitForLogin(IntPtr client, int limit) {
        var e = new OrvqEvent { Size = 1056 };
        var end = DateTime.UtcNow.AddSeconds(limit);
        bool loggedIn;
        while (DateTime.UtcNow < end) {
            if (Orvq.orvq_next_event(client, ref e, 100) == 1 &&
                HandleEvent(client, ref e, out loggedIn)) {
                return loggedIn;
            }
        }
        return false;
    }

    // Handles events and prints quotes for `seconds`; returns how many quotes came. Each wait
    // for quotes returns as soon as one arrives, or after 100 ms, so that events and the clock
    // are looked at.
    static long ShowQuotes(IntPtr client) {
        var quotes = new OrvqQuote[256];
        var codes = new byte[256];
        var e = new OrvqEvent { Size = 1056 };
        long count = 0;
        bool unused;
        var end = DateTime.UtcNow.AddSeconds(seconds);
        while (DateTime.UtcNow < end) {
            int n = Orvq.orvq_poll_quotes(client, quotes, codes, IntPtr.Zero, quotes.Length, 100);
            // Events first: a register reply comes before the quotes it lets through.
            while (Orvq.orvq_next_event(client, ref e, 0) == 1) HandleEvent(client, ref e, out unused);
            for (int i = 0; i < n; ++i) PrintQuote(ref quotes[i], codes[i]);
            if (n > 0) count += n;
        }
        return count;
    }

    static int Main(string[] args) {
        string error = Parse(args);
        if (error != null) {
            Console.Error.WriteLine("MinimalClient: " + error + "\nusage: MinimalClient " +
                "[--server IP:PORT] [--user NAME] [--password TEXT] [--seconds N] [SYMBOL ...]");
            return 2;
        }
        // The layout above must be the library's.
        if (Orvq.orvq_abi_version() < Orvq.AbiVersion ||
            Orvq.orvq_quote_size() != Marshal.SizeOf(typeof(OrvqQuote))) {
            Console.Error.WriteLine("MinimalClient: the orvquote library is older than this program");
            return 1;
        }
        IntPtr client;
        // No callback table: pull mode. 0: the default queue of 65536 quotes.
        if (Orvq.orvq_create(IntPtr.Zero, IntPtr.Zero, 0, out client) != 0) return 1;
        long quotes = 0;
        int status = 1;
        try {
            if (Orvq.orvq_connect(client, Orvq.Text(ip), port) != 0) {
                Console.Error.WriteLine("MinimalClient: cannot connect to " + ip + ":" + port);
            } else {
                Orvq.orvq_login(client, Orvq.Text(user), Orvq.Text(password));
                // The library answers the login once the symbol list is in, or gives up after 5 s.
                if (WaitForLogin(client, 10)) {
                    Orvq.orvq_query_symbols(client);  // the replies register the wanted symbols
                    quotes = ShowQuotes(client);
                    status = 0;
                }
            }
        } finally {
            // Disconnects and frees the client; nothing of it is used afterwards.
            Orvq.orvq_destroy(client);
        }
        Console.WriteLine(quotes + " quotes");
        return status;
    }
}
