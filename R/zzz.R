# Loading and unloading the package's two shared objects.
#
# The exact module (ksdist.so) is loaded by useDynLib() in NAMESPACE.  The
# second shared object (ksdist_ext.so) is loaded here; its routines are
# registered, and their addresses are kept in .ext so that the R functions
# call them as .Call(.ext$name, ...).

.ext <- new.env(parent = emptyenv())

.onLoad <- function(libname, pkgname) {
  # The exact module must reproduce its reference bits before anything uses
  # it (R/selfcheck.R); if it does not, it is unloaded again so that a
  # corrected reinstall can be loaded in the same session.
  bad <- .module_bit_mismatch()
  if (!is.null(bad)) {
    library.dynam.unload("ksdist", file.path(libname, pkgname))
    stop_call(.module_bit_message(bad))
  }
  dll <- library.dynam("ksdist_ext", pkgname, libname)
  routines <- getDLLRegisteredRoutines(dll)$.Call
  for (r in routines) assign(r$name, r$address, envir = .ext)
  if (!.Call(.ext$ksx_init))
    stop_call("ksdist's exact module does not provide its three entry points")
  bad <- .ext_bit_mismatch()
  if (!is.null(bad)) {
    library.dynam.unload("ksdist_ext", file.path(libname, pkgname))
    library.dynam.unload("ksdist", file.path(libname, pkgname))
    stop_call(.module_bit_message(bad))
  }
  invisible()
}

# Both shared objects go, so that a reinstall followed by library() in the
# same session runs the new code.
.onUnload <- function(libpath) {
  library.dynam.unload("ksdist_ext", libpath)
  library.dynam.unload("ksdist", libpath)
}
