// The library that precompiles the shared headers (see precompiled.cmake) compiles this.
