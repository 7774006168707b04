# Compiler flags for the test command's R CMD check only: the engine is
# compiled twice there (for the vignette and for the check), and without
# debugging information and with lighter optimisation that takes a minute
# less. Installing the package (r/build-package.sh --install) uses R's own.
CXX20FLAGS = -O1 -g0
