# Makes one HTML page of a guide written in Markdown: cmark-gfm renders the
# body (GitHub's Markdown, for its tables; raw HTML passed through for the
# line breaks in table cells), and each heading gets the id GitHub gives it,
# so the guide's links to its own sections work in the page as they do in
# the repository. The page needs no network and no script.
#
# cmake -DCMARK_GFM=... -DSOURCE=guide.md -DOUTPUT=guide.html -P markdowntohtml.cmake
execute_process(
    COMMAND ${CMARK_GFM} --extension table --unsafe --to html ${SOURCE}
    OUTPUT_VARIABLE body
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmark-gfm could not render ${SOURCE}")
endif()

string(REGEX MATCHALL "<h[1-6]>[^<]*</h[1-6]>" headings "${body}")
foreach(heading IN LISTS headings)
    string(REGEX REPLACE "^<h([1-6])>([^<]*)</h[1-6]>$" "\\1" level "${heading}")
    string(REGEX REPLACE "^<h[1-6]>([^<]*)</h[1-6]>$" "\\1" text "${heading}")
    string(REPLACE "&#39;" "" id "${text}")
    string(TOLOWER "${id}" id)
    string(REGEX REPLACE "&[a-z0-9#]+;|[^a-z0-9 -]" "" id "${id}")
    string(REPLACE " " "-" id "${id}")
    string(REPLACE "${heading}" "<h${level} id=\"${id}\">${text}</h${level}>" body "${body}")
    if(level EQUAL 1 AND NOT title)
        set(title "${text}")
    endif()
endforeach()

file(WRITE ${OUTPUT} "<!DOCTYPE html>
<html lang=\"en\">
<head>
<meta charset=\"utf-8\">
<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">
<title>${title}</title>
<style>
body { font-family: sans-serif; max-width: 60em; margin: 1em auto; padding: 0 1em; line-height: 1.4; }
code, pre { font-family: monospace; white-space: pre-wrap; }
pre { background: #f4f4f4; padding: 0.5em; overflow-x: auto; }
table { border-collapse: collapse; margin: 0.5em 0; }
th, td { border: 1px solid #ccc; padding: 0.25em 0.5em; vertical-align: top; text-align: left; }
img { max-width: 100%; border: 1px solid #ccc; }
</style>
</head>
<body>
${body}</body>
</html>
")
