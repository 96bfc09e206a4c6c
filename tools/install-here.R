# Installs this source tree into a private temporary library, unless
# KSDIST_LIB already names a library holding the build to use (the
# sanitizer script makes one), and puts that library first on the path.
# Returns the library, or NULL when the installation failed.
install_here <- function(root = normalizePath(".")) {
  lib <- Sys.getenv("KSDIST_LIB")
  if (!nzchar(lib)) {
    lib <- tempfile("ksdist-lib-")
    dir.create(lib)
    status <- system2(file.path(R.home("bin"), "R"),
                      c("CMD", "INSTALL", "--preclean", "--clean", "--no-test-load",
                        paste0("--library=", shQuote(lib)), shQuote(root)))
    if (status != 0) return(NULL)
  }
  .libPaths(c(lib, .libPaths()))
  lib
}
