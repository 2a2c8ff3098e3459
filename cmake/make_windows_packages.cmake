# Run by the windows_packages target (cmake -P): installs the build into a
# folder of its own, zips that folder, and makes the installer of the same
# files. Given with -D: BUILD, STAGE, NAME, VERSION, ICON, WXS, WIXL,
# WIXL_HEAT, MSIBUILD.
function(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${STAGE}
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN}: ${status}")
  endif()
endfunction()

file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE})
run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${STAGE}/${NAME} --strip)

# Every entry dated alike: now, or at SOURCE_DATE_EPOCH when that is set
# (string(TIMESTAMP) reads it), so the same files can make the same zip.
string(TIMESTAMP date "%Y-%m-%d %H:%M:%S UTC" UTC)
run(${CMAKE_COMMAND} -E tar cf ${BUILD}/${NAME}.zip --format=zip
    "--mtime=${date}" ${NAME})

# wixl reads files by paths relative to where it runs, so the folder and the
# icon are named from inside the staging folder.
file(GLOB_RECURSE files RELATIVE ${STAGE} ${STAGE}/${NAME}/*)
list(SORT files)
list(JOIN files "\n" listing)
file(WRITE ${STAGE}/files.txt "${listing}\n")
file(COPY ${ICON} DESTINATION ${STAGE})
get_filename_component(icon ${ICON} NAME)
run(${WIXL_HEAT} -p ${NAME}/ --var var.StageDir --directory-ref INSTALLDIR
    --component-group OrvaneFiles --win64 INPUT_FILE files.txt
    OUTPUT_FILE files.wxs)
set(msi ${BUILD}/${NAME}.msi)
run(${WIXL} -a x64 -D Version=${VERSION} -D StageDir=${NAME} -D Win64=yes
    -D Icon=${icon} -o ${msi} ${WXS} files.wxs)

# wixl has no Environment element: the PATH entry goes into the package's
# Environment table here, with the actions that write and remove it.
# "=-*PATH" is the system PATH, set at install and taken out at removal;
# "[~];" keeps what PATH held and adds the folder at its end.
# (Called directly: the semicolon would split the arguments of run().)
execute_process(COMMAND ${MSIBUILD} ${msi}
  -q "CREATE TABLE `Environment` (`Environment` CHAR(72) NOT NULL, `Name` CHAR(255) NOT NULL LOCALIZABLE, `Value` CHAR(255) LOCALIZABLE, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Environment`)"
  -q "INSERT INTO `Environment` (`Environment`, `Name`, `Value`, `Component_`) VALUES ('OrvanePath', '=-*PATH', '[~];[INSTALLDIR]', 'PathEntry')"
  -q "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('RemoveEnvironmentStrings', 3300)"
  -q "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteEnvironmentStrings', 5200)"
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${msi})
  message(FATAL_ERROR "msibuild could not add the PATH entry: ${status}")
endif()
