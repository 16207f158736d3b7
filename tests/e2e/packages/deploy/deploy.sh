echo deployed
# A command that fails without a word does not fail the step, nor does the
# exit code.
false
pwd > DEPLOYED_AT
exit 3
