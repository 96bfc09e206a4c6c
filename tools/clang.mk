# Builds the package with clang (Debian's clang++) and the flags R would use
# for it by default.  CXX_STD = CXX17 makes R compile with $(CXX17) and
# $(CXX17FLAGS), so those are the variables that matter; .ci/run runs the
# whole suite on this build as well as on the default gcc one.
CXX17 = clang++
CXX17FLAGS = -g -O2
CXX = clang++
CXXFLAGS = -g -O2
SHLIB_CXX17LD = clang++
