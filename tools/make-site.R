# Builds the documentation site with pkgdown (reference pages grouped by law,
# the vignette as an article, the README as the home page, NEWS) into site/,
# from this tree installed into a private library, then checks every link
# inside the site: each relative href or src must name a file of the site,
# and each #fragment an id or name in that file.  Exits non-zero, with the
# broken links listed, when the site does not build or a link is broken.
#
#   Rscript tools/make-site.R          (from the top folder)
source(file.path("tools", "install-here.R"))
if (is.null(install_here())) stop("could not install the package")
if (!requireNamespace("pkgdown", quietly = TRUE))
  stop("pkgdown is needed (apt-get install r-cran-pkgdown)")

# The site is built offline: it does not ask CRAN or Bioconductor whether the
# package is published there (a fresh machine may reach neither).
options(pkgdown.internet = FALSE)
dest <- normalizePath("site", mustWork = FALSE)
unlink(dest, recursive = TRUE)
# install = FALSE: the examples and the article run against the build that
# install_here() put first on the library path, not against another copy.
pkgdown::build_site(".", install = FALSE, new_process = FALSE, preview = FALSE,
                    lazy = FALSE, devel = FALSE)

# The help pages' formulas are TeX between \\( and \\): MathJax typesets
# them.  Debian's copy (libjs-mathjax) goes into the site, so that it works
# offline and its links are checked with the rest; without it, a CDN's.
add_mathjax <- function(root, from = "/usr/share/javascript/mathjax") {
  local <- file.exists(file.path(from, "MathJax.js"))
  if (local) {
    parts <- c("MathJax.js", "config/TeX-AMS_CHTML.js", "jax/input/TeX", "jax/output/CommonHTML",
               "jax/element", "extensions", "fonts/HTML-CSS/TeX/woff")
    for (p in parts) {
      to <- file.path(root, "mathjax", dirname(p))
      dir.create(to, recursive = TRUE, showWarnings = FALSE)
      file.copy(file.path(from, p), to, recursive = TRUE)
    }
  }
  pages <- list.files(root, pattern = "\\.html$", recursive = TRUE)
  for (page in pages) {
    file <- file.path(root, page)
    html <- readLines(file, warn = FALSE, encoding = "UTF-8")
    # pkgdown's own MathJax tags point at a file of the build machine with
    # an integrity hash that Debian's copy does not match: browsers refuse it.
    html <- gsub('<script src="[^"]*[Mm]ath[Jj]ax[^"]*"[^>]*></script>', "", html)
    if (!any(grepl("\\(", html, fixed = TRUE))) {
      writeLines(html, file, useBytes = TRUE)
      next
    }
    up <- paste(rep("../", lengths(regmatches(page, gregexpr("/", page)))), collapse = "")
    src <- if (local) paste0(up, "mathjax/MathJax.js?config=TeX-AMS_CHTML")
           else "https://cdnjs.cloudflare.com/ajax/libs/mathjax/2.7.9/MathJax.js?config=TeX-AMS_CHTML"
    at <- grep("</head>", html, fixed = TRUE)[1]
    html[at] <- sub("</head>", sprintf('<script src="%s"></script></head>', src), html[at], fixed = TRUE)
    writeLines(html, file, useBytes = TRUE)
  }
  cat(if (local) "MathJax: the local copy in" else "MathJax: from a CDN (no local copy) in",
      sum(vapply(pages, function(p) any(grepl("MathJax.js", readLines(file.path(root, p), warn = FALSE),
                                                 fixed = TRUE)), TRUE)), "pages\n")
}

broken_links <- function(root) {
  pages <- list.files(root, pattern = "\\.html$", recursive = TRUE, full.names = TRUE)
  anchors <- new.env()
  ids_of <- function(file) {
    key <- normalizePath(file)
    if (is.null(anchors[[key]])) {
      html <- paste(readLines(file, warn = FALSE, encoding = "UTF-8"), collapse = "\n")
      m <- regmatches(html, gregexpr("\\b(id|name)=\"[^\"]*\"", html))[[1]]
      anchors[[key]] <- sub("^(id|name)=\"([^\"]*)\"$", "\\2", m)
    }
    anchors[[key]]
  }
  bad <- character()
  for (page in pages) {
    html <- paste(readLines(page, warn = FALSE, encoding = "UTF-8"), collapse = "\n")
    refs <- regmatches(html, gregexpr("\\b(href|src)=\"[^\"]*\"", html))[[1]]
    refs <- unique(sub("^(href|src)=\"([^\"]*)\"$", "\\2", refs))
    refs <- refs[!grepl("^([a-zA-Z][a-zA-Z0-9+.-]*:|//)", refs) & nzchar(refs)]
    for (ref in refs) {
      path <- sub("#.*$", "", ref)
      path <- sub("\\?.*$", "", path)
      frag <- if (grepl("#", ref, fixed = TRUE)) sub("^[^#]*#", "", ref) else ""
      target <- if (nzchar(path)) file.path(dirname(page), utils::URLdecode(path)) else page
      if (dir.exists(target)) target <- file.path(target, "index.html")
      where <- sub(paste0("^", normalizePath(root), "/"), "", normalizePath(page))
      if (!file.exists(target)) {
        bad <- c(bad, sprintf("%s: %s (no such file)", where, ref))
      } else if (nzchar(frag) && grepl("\\.html$", target) &&
                 !(utils::URLdecode(frag) %in% ids_of(target))) {
        bad <- c(bad, sprintf("%s: %s (no such anchor)", where, ref))
      }
    }
  }
  list(pages = length(pages), bad = bad)
}

add_mathjax(dest)
res <- broken_links(dest)
cat(sprintf("site: %d pages in %s, %d broken internal links\n", res$pages, dest, length(res$bad)))
if (length(res$bad)) {
  writeLines(paste("  ", res$bad))
  quit(status = 1)
}
