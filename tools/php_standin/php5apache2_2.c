/* php5apache2_2.dll of the demo installation: a stand-in for PHP's Apache module, NOT PHP.
 *
 * conf\extra\httpd-nb.conf names PHP's folder (PHPIniDir), loads PHP's runtime library
 * (LoadFile php5ts.dll) and this module (LoadModule php5_module); the stand-in gives Apache
 * those names, so that the generated lines load real files, and does what the demo's stand-in
 * server does with a .php file: it is sent as it is, as HTML (the content type PHP gives a
 * page). No PHP code is run, and php.ini is not read.
 */
#include "httpd.h"
#include "http_config.h"
#include "http_log.h"
#include "http_protocol.h"
#include "http_request.h"
#include "apr_strings.h"

module AP_MODULE_DECLARE_DATA php5_module;

/* PHPIniDir "DIR": accepted, and said in the error log at level info (php.ini is not read). */
static const char *set_ini_dir(cmd_parms *cmd, void *config, const char *dir)
{
    (void)config;
    ap_log_error(APLOG_MARK, APLOG_INFO, 0, cmd->server,
                 "php5_module stand-in: PHPIniDir %s (PHP is not run)", dir);
    return NULL;
}

static int is_php_file(const char *name)
{
    size_t n = name != NULL ? strlen(name) : 0;
    return n >= 4 && strcasecmp(name + n - 4, ".php") == 0;
}

/* Runs before mod_mime: a .php file gets the type of an HTML page and no other. */
static int php_type_checker(request_rec *r)
{
    if (!is_php_file(r->filename))
        return DECLINED;
    ap_set_content_type(r, "text/html; charset=utf-8");
    return OK;
}

static void register_hooks(apr_pool_t *pool)
{
    (void)pool;
    ap_hook_type_checker(php_type_checker, NULL, NULL, APR_HOOK_FIRST);
}

static const command_rec php_commands[] = {
    AP_INIT_TAKE1("PHPIniDir", set_ini_dir, NULL, RSRC_CONF,
                  "folder of php.ini (the PHP stand-in only names it in the log)"),
    {NULL}
};

module AP_MODULE_DECLARE_DATA php5_module = {
    STANDARD20_MODULE_STUFF,
    NULL,          /* per-directory configuration */
    NULL,          /* merge per-directory configuration */
    NULL,          /* per-server configuration */
    NULL,          /* merge per-server configuration */
    php_commands,  /* directives */
    register_hooks
};
