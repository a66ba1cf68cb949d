# One place for warnings, Qt strictness and sanitizers; every target links quorrel_build_policy.
add_library(quorrel_build_policy INTERFACE)
target_compile_options(quorrel_build_policy INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wold-style-cast -Wnon-virtual-dtor)
target_compile_definitions(quorrel_build_policy INTERFACE
    QT_NO_CAST_FROM_ASCII QT_USE_QSTRINGBUILDER QT_NO_KEYWORDS)
if(QUORREL_WERROR)
    target_compile_options(quorrel_build_policy INTERFACE -Werror)
endif()
if(QUORREL_SANITIZE)
    target_compile_options(quorrel_build_policy INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_link_options(quorrel_build_policy INTERFACE -fsanitize=address,undefined)
endif()
if(QUORREL_FUZZ)
    # Coverage for libFuzzer everywhere; only the fuzzing programs link its main. Clang 14 cannot
    # emit its function-type check in coroutines ("Cannot represent a difference across sections").
    target_compile_options(quorrel_build_policy INTERFACE -fsanitize=fuzzer-no-link -fno-sanitize=function)
endif()
