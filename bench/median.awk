# The median of a list of numbers separated by spaces; shared by the bench reports.
function median(list,    n, parts, i, j, t) {
    n = split(list, parts, " ")
    for (i = 2; i <= n; i++)
        for (j = i; j > 1 && parts[j - 1] + 0 > parts[j] + 0; j--) {
            t = parts[j]; parts[j] = parts[j - 1]; parts[j - 1] = t
        }
    return n % 2 ? parts[(n + 1) / 2] : (parts[n / 2] + parts[n / 2 + 1]) / 2
}
