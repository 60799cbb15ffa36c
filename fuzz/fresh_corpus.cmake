# Replaces the working corpus with the seeds, so the seeds in the tree are never written to
# and every run starts from the same inputs.
file(REMOVE_RECURSE ${CORPUS})
file(MAKE_DIRECTORY ${CORPUS} ${ARTIFACTS})
file(COPY ${SEEDS}/ DESTINATION ${CORPUS})
