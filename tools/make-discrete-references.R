# Exact references for D against nulls with jumps (discrete and mixed; the
# tests in test-discrete-engine.R), written to
# tests/testthat/ref-discrete-engine.csv (run from the package's top folder;
# about a minute).
#
# A null is given by the closure of the range of F, a union of closed
# intervals [lo_r, hi_r] of [0, 1] (an atom is [u, u]).  Two independent
# exact computations, both in rational arithmetic (gmp) at the exact binary
# values of the doubles:
#
#   enum   purely discrete nulls: every multinomial outcome of n draws over
#          the atoms, with D = max over atoms of |C_j / n - u_j| (one-sided:
#          of C_j / n - u_j or u_j - C_j / n, and 0).
#   steck  any null: D < d (or <= d) is a set of bounds l_i < U_(i) <= r_i on
#          the order statistics of n uniforms, with l_i the largest point of
#          the range at or below i/n - d (below it, for D <= d) and r_i the
#          smallest at or above (i-1)/n + d (above it); Steck's determinant
#          (steck_det in tests/testthat/helper-oracles.R) gives it.
#
# Attainable values of D within 1e-11 of d count as equal to d, as in the
# compiled code: D < d is evaluated strictly at the smallest of them, D <= d
# at the largest.
# Columns: null (lo;hi in hex), n, d (hex), alt, rel (0 <, 1 <=, 2 >, 3 >=),
# method, value, log.
suppressMessages({
  library(gmp)
  library(Rmpfr)
})
source(file.path("tests", "testthat", "helper-oracles.R"))
set.seed(7)

nulls <- list(
  two_point = list(lo = c(0, 0.3, 1), hi = c(0, 0.3, 1)),
  binom3 = local({ u <- pbinom(0:3, 3, 0.4); u[4] <- 1; list(lo = c(0, u), hi = c(0, u)) }),
  die = local({ u <- (1:6) / 6; list(lo = c(0, u), hi = c(0, u)) }),
  pois = local({ u <- c(ppois(0:3, 1.3), 1); list(lo = c(0, u), hi = c(0, u)) }),
  mixed = list(lo = c(0, 0.55, 0.8), hi = c(0.4, 0.55, 1)),
  censored = list(lo = c(0, 1), hi = c(0.7, 1)),
  continuous = list(lo = 0, hi = 1)
)

q <- function(x) as.bigq(x)
qv <- function(x) do.call(c, lapply(x, q))

# Exact P(D < d) (strict) or P(D <= d) from Steck's determinant.
steck_range <- function(lo, hi, n, dq, alt, strict) {
  L <- qv(lo)
  H <- qv(hi)
  # largest point of the range <= x (strict) or < x (otherwise), or NA
  below <- function(x) {
    best <- NA
    for (r in seq_along(lo)) {
      if (if (strict) L[r] <= x else L[r] < x) {
        best <- if (H[r] <= x) H[r] else x
      }
    }
    best
  }
  above <- function(x) {
    for (r in seq_along(lo)) {
      if (if (strict) H[r] >= x else H[r] > x) return(if (L[r] >= x) L[r] else x)
    }
    NA
  }
  l <- as.bigq(rep(0, n))
  r <- as.bigq(rep(1, n))
  for (i in seq_len(n)) {
    if (alt != 2) {
      b <- below(as.bigq(i, n) - dq)
      if (!is.na(b)) l[i] <- b
    }
    if (alt != 1) {
      a <- above(as.bigq(i - 1, n) + dq)
      if (!is.na(a)) r[i] <- a
    }
  }
  if (any(l >= r)) return(as.bigq(0))
  steck_det(l, r)
}

# All outcomes of n draws over the atoms u (u[length(u)] == 1): exact
# probabilities and exact D (two-sided, greater, less).
enumerate <- function(u, n) {
  uq <- qv(u)
  p <- c(uq[1], uq[-1] - uq[-length(uq)])
  K <- length(u)
  comps <- function(n, K) {
    if (K == 1) return(matrix(n, 1, 1))
    do.call(rbind, lapply(0:n, function(c1) cbind(c1, comps(n - c1, K - 1))))
  }
  C <- comps(n, K)
  out <- vector("list", nrow(C))
  for (t in seq_len(nrow(C))) {
    cnt <- C[t, ]
    pr <- factorialZ(n) / prod(factorialZ(cnt)) * prod(p^cnt)
    F <- as.bigq(cumsum(cnt), n)
    dp <- max(c(as.bigq(0), F - uq))
    dm <- max(c(as.bigq(0), uq - F))
    out[[t]] <- list(pr = pr, d = c(max(dp, dm), dp, dm))
  }
  out
}

# D < d and D <= d with d taken as equal to every attainable value of D
# within 1e-11 of it: the smallest and the largest of those values (d
# itself twice when there are none).
snap <- function(lo, hi, n, d) {
  dq <- q(d)
  ends <- qv(unique(c(lo, hi)))
  lo_v <- hi_v <- NULL
  for (k in seq_along(ends)) {
    for (i in 0:n) {
      v <- abs(as.bigq(i, n) - ends[k])
      if (abs(as.numeric(v - dq)) <= 1e-11) {
        if (is.null(lo_v) || v < lo_v) lo_v <- v
        if (is.null(hi_v) || v > hi_v) hi_v <- v
      }
    }
  }
  if (is.null(lo_v)) list(dq, dq) else list(lo_v, hi_v)
}

mpv <- function(x) mpfr(numerator(x), 200) / mpfr(denominator(x), 200)
rows <- list()
add <- function(name, nl, n, d, alt, rel, method, v) {
  v <- mpv(v)
  rows[[length(rows) + 1]] <<- data.frame(
    null = paste(paste(sprintf("%a", nl$lo), collapse = ","), paste(sprintf("%a", nl$hi), collapse = ","), sep = ";"),
    name = name, n = n, d = sprintf("%a", d), alt = alt, rel = rel, method = method,
    value = sprintf("%.17g", as.numeric(v)), log = sprintf("%.17g", as.numeric(log(v))))
}

for (name in names(nulls)) {
  nl <- nulls[[name]]
  discrete <- all(nl$lo == nl$hi)
  for (n in c(1, 2, 3, 5, 8, 12)) {
    if (discrete) en <- enumerate(nl$hi[-1], n)
    for (alt in 0:2) {
      # candidate statistics: attainable values as doubles, and others
      u <- unique(c(nl$lo, nl$hi))
      att <- unique(abs(outer(0:n / n, u, "-")))
      att <- att[att > 0.02 & att < 0.9]
      ds <- c(sample(att, min(3, length(att))), runif(2, 0.05, 0.7))
      for (d in ds) {
        cls <- snap(nl$lo, nl$hi, n, d)
        for (strict in c(TRUE, FALSE)) {
          dq <- if (strict) cls[[1]] else cls[[2]]
          pin <- steck_range(nl$lo, nl$hi, n, dq, alt, strict)
          add(name, nl, n, d, alt, if (strict) 0 else 1, "steck", pin)
          add(name, nl, n, d, alt, if (strict) 3 else 2, "steck", 1 - pin)
          if (discrete) {
            below <- as.bigq(0)
            for (o in en) if (if (strict) o$d[alt + 1] < dq else o$d[alt + 1] <= dq) below <- below + o$pr
            add(name, nl, n, d, alt, if (strict) 0 else 1, "enum", below)
            add(name, nl, n, d, alt, if (strict) 3 else 2, "enum", 1 - below)
          }
        }
      }
    }
  }
  cat(name, "done\n")
}
tab <- do.call(rbind, rows)
write.csv(tab, "tests/testthat/ref-discrete-engine.csv", row.names = FALSE)
cat(nrow(tab), "references written\n")
