# Compiler flags a user might put in ~/.R/Makevars.  The results must not
# change under them: .ci/run builds with these and runs the whole suite,
# whose bit-pattern tests would catch any contraction into fused
# multiply-adds.
CXXFLAGS = -O3 -march=native -ffp-contract=fast -funroll-loops
CXX17FLAGS = -O3 -march=native -ffp-contract=fast -funroll-loops
