# Reads "BUFFER KIND N key=value..." lines from bench/stock and prints medians
# with their spread, the targets, and the missed ones (then exits 1).
# Variables: reps, rmem_max (this host's, or "unknown").
function sorted(list, parts,    n, i, j, t) {
    n = split(list, parts, " ")
    for (i = 2; i <= n; i++)
        for (j = i; j > 1 && parts[j - 1] + 0 > parts[j] + 0; j--) {
            t = parts[j]; parts[j] = parts[j - 1]; parts[j - 1] = t
        }
    return n
}
function median(list,    n, parts) {
    n = sorted(list, parts)
    if (!n) return ""
    return n % 2 ? parts[(n + 1) / 2] + 0 : (parts[n / 2] + parts[n / 2 + 1]) / 2
}
function spread(list, format,    n, parts) {
    n = sorted(list, parts)
    if (!n) return "-"
    return sprintf(format " (" format "-" format ")", median(list), parts[1], parts[n])
}
function value(buffer, kind, n, key) { return median(values[buffer, kind, n, key]) }
function shown(buffer, kind, n, key, format) { return spread(values[buffer, kind, n, key], format) }
function verdict(ok, target) {
    if (!ok) missed[++missedCount] = target
    return ok ? "met" : "NOT MET"
}
# "a/b 98.7% (>= 99%: met)": a program's median against a bare receiver's.
function ratio(kind, n, bare, floor, target,    r) {
    r = value("capped", bare, n, "listed") ? value("capped", kind, n, "listed") / value("capped", bare, n, "listed") : 0
    return sprintf("%.1f%% (>= %d%%: %s)", 100 * r, 100 * floor, verdict(r >= floor, target))
}

{
    buffer = $1; kind = $2; n = $3
    if (kind != "wine-fill" && kind != "twin-idle" && kind != "win-exit") {
        if (!(n in seen)) { seen[n] = 1; sizes[++sizeCount] = n }
        # A program that gave no figures listed nothing.
        if ($0 !~ / listed=/) values[buffer, kind, n, "listed"] = values[buffer, kind, n, "listed"] " 0"
    }
    for (i = 4; i <= NF; i++) {
        split($i, kv, "=")
        values[buffer, kind, n, kv[1]] = values[buffer, kind, n, kv[1]] " " kv[2]
    }
}

END {
    names["linux-bare"] = "Linux bare"; names["linux-window"] = "Linux window"; names["linux-twin"] = "Linux twin"
    names["win-bare"] = "Windows bare"; names["win-window"] = "Windows window"; names["win-twin"] = "Windows twin"
    kindCount = split("linux-bare linux-window linux-twin win-bare win-window win-twin", kinds, " ")
    idleCpu = value("capped", "twin-idle", 0, "cpu_ms")

    print ""
    print "Stock buffer: every program asks for a 4 MiB receive buffer; \"capped\" gets what a stock kernel"
    print "(rmem_max 212992) grants, through the preloaded libzorvik-stock-kernel.so, \"asked\" what this host"
    printf "grants (its rmem_max: %s). Core 0 busy, senders at nice 19. Medians (min-max) of %d runs;\n", rmem_max, reps
    print "bare: one thread that only receives (recvmmsg on Linux, Winsock recvfrom under Wine); gap: the longest"
    print "stretch with answers waiting (taken in and not listed, or queued in the system) and no line added;"
    printf "CPU: user+system per burst (the twin's less its CPU without answers, %.0f ms).\n\n", idleCpu
    printf "%-7s %-15s %-24s %-24s %-19s %-19s %s\n", "N", "receiver", "listed, capped", "listed, asked",
           "gap ms, capped", "gap ms, asked", "CPU ms, capped"
    for (s = 1; s <= sizeCount; s++) {
        n = sizes[s]
        for (k = 1; k <= kindCount; k++) {
            kind = kinds[k]
            if (values["capped", kind, n, "listed"] == "" && values["asked", kind, n, "listed"] == "") continue
            cpu = "-"
            if (kind == "linux-window") cpu = shown("capped", kind, n, "cpu_ms", "%.0f")
            if (kind == "linux-twin") cpu = sprintf("%.0f", value("capped", kind, n, "cpu_ms") - idleCpu)
            printf "%-7d %-15s %-24s %-24s %-19s %-19s %s\n", n, names[kind], shown("capped", kind, n, "listed", "%d"),
                   shown("asked", kind, n, "listed", "%d"), shown("capped", kind, n, "max_gap_ms", "%.0f"),
                   shown("asked", kind, n, "max_gap_ms", "%.0f"), cpu
        }
    }

    # Whether the cap took: the kernel's own word on Linux, and what it queued
    # for a Winsock socket under Wine (Wine's getsockopt answers from its records).
    top = sizes[sizeCount]
    linuxCapped = value("capped", "linux-window", top, "rcvbuf")
    winQueued = value("capped", "wine-fill", 0, "queued_bytes")
    winDropped = value("capped", "wine-fill", 0, "dropped")
    print ""
    printf "Granted: Linux window %d bytes capped, %d asked (getsockopt). Wine, 4,000 datagrams to a Winsock socket\n",
           linuxCapped, value("asked", "linux-window", top, "rcvbuf")
    printf "that asked for 4 MiB, unread: capped, the kernel queued %d bytes and dropped %d; asked, %d and %d\n",
           winQueued, winDropped, value("asked", "wine-fill", 0, "queued_bytes"), value("asked", "wine-fill", 0, "dropped")
    printf "(Wine's getsockopt said %d and %d).\n", value("capped", "wine-fill", 0, "rcvbuf_said"),
           value("asked", "wine-fill", 0, "rcvbuf_said")
    # Under Wine each receive is a round trip to its server, which bounds how fast
    # any Winsock receiver takes in; set beside how fast the bursts came to the
    # bare Linux receiver (a sender at nice 19 slows down when Wine is busy).
    receiveUs = value("capped", "wine-fill", 0, "receive_us")
    if (receiveUs > 0) {
        line = ""
        for (s = 1; s <= sizeCount; s++) {
            n = sizes[s]
            burstMs = value("capped", "linux-bare", n, "ms")
            if (values["capped", "win-bare", n, "listed"] == "" || burstMs <= 0) continue
            line = line sprintf("%s%d in %.0f ms", line == "" ? "" : ", ", n, burstMs)
        }
        printf "Wine takes %.1f us per receive with datagrams waiting, at most %d a second; the bare Linux receiver\n",
               receiveUs, 1000000 / receiveUs
        printf "saw the bursts arrive: %s.\n", line
    }

    print ""
    print "Targets, capped (medians):"
    printf "  the cap in effect: Linux %s; Wine %s\n", verdict(linuxCapped > 0 && linuxCapped <= 2 * 212992, "Linux cap in effect"),
           verdict(winDropped > 0 && winQueued <= 2 * 2 * 212992, "Wine cap in effect")
    for (s = 1; s <= sizeCount; s++) {
        n = sizes[s]
        if (n <= 1000) {
            line = ""
            for (k = 1; k <= kindCount; k++) {
                kind = kinds[k]
                if (kind ~ /bare/ || values["capped", kind, n, "listed"] == "") continue
                lost = n - value("capped", kind, n, "listed")
                line = line sprintf("%s%s %d", line == "" ? "" : ", ", names[kind], lost)
                if (lost != 0) missed[++missedCount] = names[kind] " lost answers at " n
            }
            printf "  N=%-6d lost (0): %s\n", n, line
            continue
        }
        printf "  N=%-6d of the bare receiver's (>= 99%%): Linux window %s; Linux twin %s\n", n,
               ratio("linux-window", n, "linux-bare", 0.99, "Linux window/bare at " n),
               ratio("linux-twin", n, "linux-bare", 0.99, "Linux twin/bare at " n)
        if (values["capped", "win-window", n, "listed"] == "") continue
        printf "  N=%-6d Windows window of bare Winsock %s, of bare Linux %s\n", n,
               ratio("win-window", n, "win-bare", 0.99, "Windows window/bare Winsock at " n),
               ratio("win-window", n, "linux-bare", 0.90, "Windows window/bare Linux at " n)
        printf "  N=%-6d Windows twin of bare Winsock %s, of bare Linux %s\n", n,
               ratio("win-twin", n, "win-bare", 0.99, "Windows twin/bare Winsock at " n),
               ratio("win-twin", n, "linux-bare", 0.90, "Windows twin/bare Linux at " n)
    }
    for (s = 1; s <= sizeCount; s++) {
        n = sizes[s]
        linuxGap = value("capped", "linux-window", n, "max_gap_ms")
        printf "  N=%-6d the box keeps growing, longest gap: Linux window %.0f ms (<= 100: %s)", n, linuxGap,
               verdict(linuxGap <= 100, "Linux window gap at " n)
        if (values["capped", "win-window", n, "max_gap_ms"] != "") {
            winGap = value("capped", "win-window", n, "max_gap_ms")
            printf "; Windows window %.0f ms (<= 100: %s)", winGap, verdict(winGap <= 100, "Windows window gap at " n)
        }
        twinCpu = value("capped", "linux-twin", n, "cpu_ms") - idleCpu
        cpuRatio = twinCpu > 0 ? value("capped", "linux-window", n, "cpu_ms") / twinCpu : 0
        # A small burst costs the twin about as much as its start does: no ratio to judge.
        if (n < 10000) printf "; Linux window/twin CPU %.2f\n", cpuRatio
        else printf "; Linux window/twin CPU %.2f (<= 2: %s)\n", cpuRatio, verdict(cpuRatio > 0 && cpuRatio <= 2, "Linux window/twin CPU at " n)
    }
    # From the click to the program's own end, to its objects gone, and to its
    # process gone as seen from outside Wine.
    if (values["asked", "win-exit", 0, "gone_ms"] != "") {
        goneMs = value("asked", "win-exit", 0, "gone_ms")
        printf "  Exit amid a flood under Wine (%s lines listed): the click handled and the window hidden after %s ms,\n",
               shown("asked", "win-exit", 0, "listed_at_exit", "%d"), shown("asked", "win-exit", 0, "end_ms", "%.0f")
        printf "    its objects gone after %s, its process after %s (<= 200: %s)\n",
               shown("asked", "win-exit", 0, "objects_gone_ms", "%.0f"), shown("asked", "win-exit", 0, "gone_ms", "%.0f"),
               verdict(goneMs >= 0 && goneMs <= 200, "Exit amid a flood under Wine")
    }
    if (missedCount) {
        printf "\nMissed targets:"
        for (i = 1; i <= missedCount; i++) printf "%s %s", (i > 1 ? ";" : ""), missed[i]
        printf "\n"
        exit 1
    }
}
