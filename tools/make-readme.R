# Makes README.md from README.Rmd with the package installed from this tree,
# so that the output shown is the real output.
#
#   Rscript tools/make-readme.R        (from the top folder)
source(file.path("tools", "install-here.R"))
if (is.null(install_here())) stop("could not install the package")
knitr::knit("README.Rmd", "README.md", quiet = TRUE)
# knitr keeps the YAML header of the source; GitHub shows README.md as it is.
lines <- readLines("README.md")
if (identical(lines[1], "---")) {
  end <- which(lines == "---")[2]
  lines <- lines[-seq_len(end)]
}
while (length(lines) && !nzchar(lines[1])) lines <- lines[-1]
writeLines(lines, "README.md")
cat("wrote README.md\n")
