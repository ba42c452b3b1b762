# Reads ctest's Testing/Temporary/LastTest.log of a run under qemu's user-mode emulator and
# sorts every program by its last attempt: passed, failed, or left out because the emulator
# itself failed, with the line of its output that proves it.
#
# A program is left out only on evidence, and only when GoogleTest reported no failure in any
# of its attempts:
#   - the emulator or Wine reported its own fault ("qemu: uncaught target signal",
#     "wine: Unhandled ...", "wine client error", or Wine's "failed to map the shared user
#     data", when 32-bit Wine cannot even start a process under the emulator) in one of its
#     attempts (a second attempt that dies at the same place does not always get the message
#     out);
#   - or every test of the program passed ("[  PASSED  ]") and the process then did not end.
# Anything else that fails (an assertion, a crash without the emulator's signature, a hang
# inside a test) counts as a failure, as it does on every other target.
#
# Prints one line per program left out and per failure, then "counts PASSED FAILED LEFT_OUT".

function finish() {
    if (name == "")
        return
    result[name] = outcome
    if (evidence != "")
        proof[name] = evidence
    if (!(name in seen)) {
        seen[name] = 1
        order[++programs] = name
    }
    name = ""
}

/^[0-9]+\/[0-9]+ Testing: / {
    finish()
    name = $3
    outcome = ""
    gtest_failed = 0
    gtest_passed = ""
    evidence = ""
    next
}
name == "" { next }
/^\[  FAILED  \]/ { gtest_failed = 1; assertion[name] = 1 }
/^\[  PASSED  \]/ { gtest_passed = $0 }
/^qemu: uncaught target signal|^wine: Unhandled|^wine client error|wine: failed to map the shared user data/ {
    if (evidence == "")
        evidence = $0
}
/^Test Passed\./ { outcome = "passed"; finish(); next }
/^Test Failed\./ {
    if (!gtest_failed && (evidence != "" || proof[name] != ""))
        outcome = "emulator"
    else if (!gtest_failed && gtest_passed != "") {
        outcome = "emulator"
        evidence = gtest_passed " then the process did not end"
    } else
        outcome = "failed"
    finish()
    next
}

END {
    finish()
    passed = failed = left = 0
    for (i = 1; i <= programs; ++i) {
        n = order[i]
        if (result[n] == "passed")
            ++passed
        else if (result[n] == "emulator" && !(n in assertion)) {
            ++left
            print "left out: " n ": the emulator failed, not the program: " proof[n]
        } else {
            ++failed
            print "FAILED: " n
        }
    }
    print "counts " passed " " failed " " left
}
