# Reads "KIND N key=value..." lines from bench/burst and prints medians,
# ratios against the baselines of the same run, and the targets.
function value(kind, n, key) { return median(values[kind, n, key]) }
# "met" or "NOT MET"; a missed target is named again at the end.
function verdict(ok, target) {
    if (!ok) missed[++missedCount] = target
    return ok ? "met" : "NOT MET"
}

{
    kind = $1; n = $2
    if (kind == "flood") floodSeconds = n
    else if (!(n in seen) && kind != "cost") { seen[n] = 1; sizes[++sizeCount] = n }
    for (i = 3; i <= NF; i++) {
        split($i, kv, "=")
        values[kind, n, kv[1]] = values[kind, n, kv[1]] " " kv[2]
    }
    runs[kind, n]++
}

END {
    printf "%-8s %-14s %9s %8s %10s %10s %12s\n", "N", "receiver", "listed", "lost", "ms", "peak MiB", "KiB/1000 ln"
    kindCount = split("window widget twin bare-default bare-4mib window-busy twin-busy", kinds, " ")
    for (s = 1; s <= sizeCount; s++) {
        n = sizes[s]
        for (k = 1; k <= kindCount; k++) {
            kind = kinds[k]
            if (!runs[kind, n]) continue
            grown = values[kind, n, "grown_kib"] == "" ? "" : sprintf("%.0f", value(kind, n, "grown_kib") * 1000 / n)
            printf "%-8d %-14s %9d %8d %10.1f %10.1f %12s\n", n, kind, value(kind, n, "listed"), value(kind, n, "lost"),
                   value(kind, n, "ms"), value(kind, n, "peak_kib") / 1024, grown
        }
    }

    top = sizes[sizeCount]
    print ""
    print "Targets (medians of " runs["window", top] " runs, ratios against baselines measured in this run):"
    lost = 0
    for (s = 1; s <= sizeCount; s++) {
        n = sizes[s]
        if (n < 10000) continue
        for (k = 1; k <= kindCount; k++)
            if (kinds[k] ~ /^(window|twin)/ && runs[kinds[k], n]) lost += value(kinds[k], n, "lost")
        windowRatio = value("window", n, "ms") / value("widget", n, "ms")
        twinRatio = value("twin", n, "ms") / value("bare-4mib", n, "ms")
        memoryRatio = value("window", n, "grown_kib") / value("widget", n, "grown_kib")
        pairRatio = value("window", n, "ms") / value("twin", n, "ms")
        printf "  N=%-6d window/widget floor time %.2f (<= 1.3: %s); twin/bare 4 MiB time %.2f (<= 1.2: %s); window/widget memory per line %.2f (<= 1.2: %s)\n",
               n, windowRatio, verdict(windowRatio <= 1.3, "window/widget time at " n), twinRatio,
               verdict(twinRatio <= 1.2, "twin/bare time at " n), memoryRatio, verdict(memoryRatio <= 1.2, "window/widget memory at " n)
        printf "  N=%-6d window/twin time %.2f (<= 2: %s)", n, pairRatio, verdict(pairRatio <= 2, "window/twin time at " n)
        if (runs["window-busy", n] && runs["twin-busy", n])
            printf "; with core 0 busy: window %.0f ms, twin %.0f ms, window/twin %.2f", value("window-busy", n, "ms"),
                   value("twin-busy", n, "ms"), value("window-busy", n, "ms") / value("twin-busy", n, "ms")
        printf "\n"
        if (n == top) { headWindow = windowRatio; headTwin = twinRatio }
    }
    printf "  answers lost by the window and the twin at N >= 10,000, also with core 0 busy: %d (0: %s)\n", lost,
           verdict(lost == 0, "none lost")
    costRatio = value("cost", 100000, "us_per_answer") / value("cost", 1000, "us_per_answer")
    printf "  one answer costs %.1f us with 1,000 lines listed and %.1f us with 100,000: ratio %.2f (<= 1.5: %s)\n",
           value("cost", 1000, "us_per_answer"), value("cost", 100000, "us_per_answer"), costRatio,
           verdict(costRatio <= 1.5, "per-answer cost at 100,000")
    if (runs["exit", top]) {
        exitMs = value("exit", top, "exit_ms")
        printf "  Exit pressed while listing %d answers ends the program after %.1f ms (<= 200: %s); the window painted %.0f times a second while listing\n",
               top, exitMs, verdict(exitMs <= 200, "Exit while listing"), value("window", top, "paints_per_s")
    }
    if (floodSeconds) {
        peak = value("flood", floodSeconds, "peak_kib") / 1024
        idle = value("flood", floodSeconds, "idle_s")
        printf "  a %d s flood of empty datagrams (%d sent, %d listed): peak %.0f MiB by its end (< 1024: %s); last line listed %.1f s and CPU idle %.1f s after it (<= 3: %s)\n",
               floodSeconds, value("flood", floodSeconds, "sent"), value("flood", floodSeconds, "listed"), peak,
               verdict(peak < 1024, "flood peak memory"), value("flood", floodSeconds, "listed_s"), idle,
               verdict(idle >= 0 && idle <= 3, "idle after a flood")
    }
    print ""
    printf "Headline: %d answers at once, %d lost; the window lists them in %.1f s (%.2fx a bare text widget), the twin in %.2f s (%.2fx a bare recvmmsg receiver); a bare receiver with the default buffer loses %d.\n",
           top, value("window", top, "lost") + value("twin", top, "lost"), value("window", top, "ms") / 1000, headWindow,
           value("twin", top, "ms") / 1000, headTwin, value("bare-default", top, "lost")
    if (missedCount) {
        printf "\nMissed targets:"
        for (i = 1; i <= missedCount; i++) printf "%s %s", (i > 1 ? ";" : ""), missed[i]
        printf "\n"
        exit 1
    }
}
