# Compiler flags for the AddressSanitizer + UndefinedBehaviorSanitizer
# build made by tools/sanitize.sh.
CXXFLAGS = -g -O1 -fno-omit-frame-pointer -fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all
CXX17FLAGS = -g -O1 -fno-omit-frame-pointer -fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all
LDFLAGS = -fsanitize=address,undefined,float-cast-overflow
