# Makes README.md from README.Rmd with the package installed from this tree,
# so that the output shown is the real output; the plot's figure is drawn by
# its chunk into man/figures/.
#
#   Rscript tools/make-readme.R           (from the top folder)
#   Rscript tools/make-readme.R --check   runs every chunk again in a scratch
#       folder and fails, showing the differences, unless README.md is what
#       README.Rmd gives today (so every chunk of the README runs as printed)
check <- "--check" %in% commandArgs(trailingOnly = TRUE)
source(file.path("tools", "install-here.R"))
if (is.null(install_here())) stop("could not install the package")

knit_readme <- function(dir) {
  if (normalizePath(dir) != normalizePath(".")) file.copy("README.Rmd", dir, overwrite = TRUE)
  owd <- setwd(dir)
  on.exit(setwd(owd))
  dir.create(file.path("man", "figures"), recursive = TRUE, showWarnings = FALSE)
  knitr::knit("README.Rmd", "README.md", quiet = TRUE, envir = new.env())
  # knitr keeps the YAML header of the source; GitHub shows README.md as it is.
  lines <- readLines("README.md")
  if (identical(lines[1], "---")) {
    end <- which(lines == "---")[2]
    lines <- lines[-seq_len(end)]
  }
  while (length(lines) && !nzchar(lines[1])) lines <- lines[-1]
  lines
}

if (check) {
  scratch <- tempfile("readme-")
  dir.create(scratch)
  now <- knit_readme(scratch)
  was <- readLines("README.md")
  if (!identical(now, was)) {
    writeLines(now, file.path(scratch, "README.out"))
    d <- suppressWarnings(system2("diff", c("-u", "README.md", shQuote(file.path(scratch, "README.out"))),
                                  stdout = TRUE))
    writeLines(d)
    cat("README.md is not what README.Rmd gives: run Rscript tools/make-readme.R\n")
    quit(status = 1)
  }
  cat("README.md: every chunk runs and prints what is shown\n")
} else {
  lines <- knit_readme(".")
  writeLines(lines, "README.md")
  cat("wrote README.md\n")
}
