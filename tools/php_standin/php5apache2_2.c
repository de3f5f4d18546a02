/* php5apache2_2.dll of the demo installation: a stand-in for PHP's Apache module, NOT PHP.
 *
 * conf\extra\httpd-nb.conf names PHP's folder (PHPIniDir), loads PHP's runtime library
 * (LoadFile php5ts.dll) and this module (LoadModule php5_module); the stand-in gives Apache
 * those names, so that the generated lines load real files. A request the configuration hands
 * to PHP, as PHP's module takes it (the type or handler application/x-httpd-php, which
 * conf\httpd.conf gives .php files with AddType), is sent as the demo's stand-in server sends
 * a .php file: as it is, as HTML (the content type PHP gives a page). No PHP code is run, and
 * php.ini is not read.
 */
#include "httpd.h"
#include "http_config.h"
#include "http_protocol.h"
#include "http_request.h"
#include "apr_strings.h"

module AP_MODULE_DECLARE_DATA php5_module;

/* PHPIniDir "DIR": accepted (php.ini is not read). */
static const char *set_ini_dir(cmd_parms *cmd, void *config, const char *dir) {
    (void)cmd;
    (void)config;
    (void)dir;
    return NULL;
}

static int is_php_type(const char *type) {
    return type != NULL && strcasecmp(type, "application/x-httpd-php") == 0;
}

/* After the type is known: what PHP would run goes to the default handler, as an HTML page. */
static int php_fixups(request_rec *r) {
    if (!is_php_type(r->handler) && !(r->handler == NULL && is_php_type(r->content_type)))
        return DECLINED;
    r->handler = NULL;
    ap_set_content_type(r, "text/html; charset=utf-8");
    return OK;
}

static void register_hooks(apr_pool_t *pool) {
    (void)pool;
    ap_hook_fixups(php_fixups, NULL, NULL, APR_HOOK_MIDDLE);
}

static const command_rec php_commands[] = {
    AP_INIT_TAKE1("PHPIniDir", set_ini_dir, NULL, RSRC_CONF,
                  "folder of php.ini (not read by the PHP stand-in)"),
    {NULL}};

module AP_MODULE_DECLARE_DATA php5_module = {
    STANDARD20_MODULE_STUFF,
    NULL,               /* per-directory configuration */
    NULL,               /* merge per-directory configuration */
    NULL,               /* per-server configuration */
    NULL,               /* merge per-server configuration */
    php_commands,       /* directives */
    register_hooks,     /* hooks */
    AP_MODULE_FLAG_NONE /* flags */
};
